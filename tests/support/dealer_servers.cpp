#include "support/dealer_servers.hpp"
#include "support/temp_dir.hpp"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace kiv::test {
namespace {

// Just enough JSON for the flat object the servers write.
std::string jsonValue(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  auto at = json.find(quoted);
  if (at == std::string::npos) throw std::runtime_error("state file lacks " + key);
  at = json.find(':', at + quoted.size());
  if (at == std::string::npos) throw std::runtime_error("state file malformed at " + key);
  ++at;
  while (at < json.size() && (json[at] == ' ' || json[at] == '\n')) ++at;
  if (at < json.size() && json[at] == '"') {
    std::string value;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
      if (json[at] == '\\' && at + 1 < json.size()) ++at;
      value += json[at];
    }
    return value;
  }
  const auto end = json.find_first_of(",}\n", at);
  return json.substr(at, end - at);
}

size_t appendTo(char* data, size_t size, size_t count, void* userdata) {
  static_cast<std::string*>(userdata)->append(data, size * count);
  return size * count;
}

}  // namespace

DealerServers::DealerServers() {
  const char* state = std::getenv("KIV_DEALER_SERVERS");
  if (state == nullptr || *state == '\0') {
    throw std::runtime_error("KIV_DEALER_SERVERS is not set: run this test through ctest");
  }
  const std::string json = readFile(state);
  httpPort_ = std::stoi(jsonValue(json, "http_port"));
  ftpPort_ = std::stoi(jsonValue(json, "ftp_port"));
  proxyPort_ = std::stoi(jsonValue(json, "proxy_port"));
  user_ = jsonValue(json, "user");
  password_ = jsonValue(json, "password");
  ftpRoot_ = jsonValue(json, "ftp_root");
}

std::string DealerServers::webBase() const {
  return "http://127.0.0.1:" + std::to_string(httpPort_);
}

std::string DealerServers::ftpHost() const { return "127.0.0.1:" + std::to_string(ftpPort_); }

std::string DealerServers::proxyUrl() const { return "http://127.0.0.1:" + std::to_string(proxyPort_); }

void DealerServers::reset() const { control("/_test/reset"); }

void DealerServers::configure(const std::string& query) const {
  control("/_test/configure?" + query);
}

std::vector<std::string> DealerServers::requests() const {
  std::vector<std::string> lines;
  std::istringstream text(control("/_test/requests"));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

std::string DealerServers::control(const std::string& pathAndQuery) const {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
  if (!easy) throw std::runtime_error("curl_easy_init failed");
  const std::string url = webBase() + pathAndQuery;
  std::string body;
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, appendTo);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
  const CURLcode result = curl_easy_perform(easy.get());
  if (result != CURLE_OK) {
    throw std::runtime_error(url + ": " + curl_easy_strerror(result));
  }
  long status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) throw std::runtime_error(url + ": HTTP " + std::to_string(status) + " " + body);
  return body;
}

}  // namespace kiv::test
