#include "support/dealer_servers.hpp"

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

namespace kiv::test {
namespace {

size_t appendTo(char* data, size_t size, size_t count, void* userdata) {
  static_cast<std::string*>(userdata)->append(data, size * count);
  return size * count;
}

}  // namespace

std::string httpGetForTest(const std::string& url) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), curl_easy_cleanup);
  if (!easy) throw std::runtime_error("curl_easy_init failed");
  std::string body;
  curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, appendTo);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
  const CURLcode result = curl_easy_perform(easy.get());
  if (result != CURLE_OK) throw std::runtime_error(url + ": " + curl_easy_strerror(result));
  long status = 0;
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) throw std::runtime_error(url + ": HTTP " + std::to_string(status) + " " + body);
  return body;
}

}  // namespace kiv::test
