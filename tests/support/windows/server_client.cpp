#include "support/dealer_servers.hpp"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <stdexcept>

namespace kiv::test {
namespace {

struct HandleCloser {
  void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::runtime_error failure(const std::string& url, const std::string& what) {
  return std::runtime_error(url + ": " + what + " (error " + std::to_string(GetLastError()) + ")");
}

}  // namespace

std::string httpGetForTest(const std::string& url) {
  Handle session(InternetOpenA("kiv-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session) throw failure(url, "InternetOpenA failed");
  DWORD timeoutMs = 30000;
  InternetSetOptionA(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeoutMs, sizeof timeoutMs);
  Handle request(InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0,
                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!request) throw failure(url, "no answer");
  DWORD status = 0, size = sizeof status;
  HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  std::string body;
  char buffer[4096];
  DWORD read = 0;
  while (InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0) body.append(buffer, read);
  if (status != 200) throw std::runtime_error(url + ": HTTP " + std::to_string(status) + " " + body);
  return body;
}

}  // namespace kiv::test
