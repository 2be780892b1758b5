#include "support/dealer_servers.hpp"
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <memory>
#include <sstream>
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

std::filesystem::path sharedStateFile() {
  const char* state = std::getenv("KIV_DEALER_SERVERS");
  if (state == nullptr || *state == '\0') {
    throw std::runtime_error("KIV_DEALER_SERVERS is not set: run this test through ctest");
  }
  return state;
}

}  // namespace

DealerServers::DealerServers() : DealerServers(sharedStateFile()) {}

DealerServers::DealerServers(const std::filesystem::path& stateFile) {
  const std::string json = readFile(stateFile);
  host_ = jsonValue(json, "host");
  if (host_.find(':') != std::string::npos) host_ = "[" + host_ + "]";
  httpPort_ = std::stoi(jsonValue(json, "http_port"));
  ftpPort_ = std::stoi(jsonValue(json, "ftp_port"));
  proxyPort_ = std::stoi(jsonValue(json, "proxy_port"));
  user_ = jsonValue(json, "user");
  password_ = jsonValue(json, "password");
  ftpRoot_ = jsonValue(json, "ftp_root");
#ifdef _WIN32
  // The servers run on Linux; Wine shows its root as drive Z:.
  if (ftpRoot_.string().starts_with("/")) ftpRoot_ = "Z:" + ftpRoot_.string();
#endif
}

std::string DealerServers::webBase() const {
  return "http://" + host_ + ":" + std::to_string(httpPort_);
}

std::string DealerServers::ftpHost() const { return host_ + ":" + std::to_string(ftpPort_); }

std::string DealerServers::proxyUrl() const { return "http://" + host_ + ":" + std::to_string(proxyPort_); }

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
  return httpGetForTest(webBase() + pathAndQuery);
}

}  // namespace kiv::test
