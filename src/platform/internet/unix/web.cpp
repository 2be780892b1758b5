#include <platform/internet/internet.hpp>

#include "curl.hpp"

#include <string>

namespace kiv::net {

using namespace detail;

struct Session::Web {
  EasyHandle easy;
};

Session::Session(std::string agent) : agent_(std::move(agent)) { initialiseCurlOnce(); }
Session::~Session() = default;

std::unique_ptr<Request> Session::openUrl(const std::string& url) {
  if (url.find('\0') != std::string::npos) return nullptr;
  // One handle for the session's requests: it keeps their connection open.
  if (!web_) {
    web_ = std::make_unique<Web>();
    web_->easy.reset(curl_easy_init());
  } else if (web_->easy) {
    curl_easy_reset(web_->easy.get());
  }
  EasyHandle& easy = web_->easy;
  if (!easy) return nullptr;
  StringList headers;
  if (!headers.append("Cache-Control: no-cache") || !headers.append("Pragma: no-cache")) {
    return nullptr;
  }
  BodySink sink;
  CURL* e = easy.get();
  if (curl_easy_setopt(e, CURLOPT_URL, url.c_str()) != CURLE_OK) return nullptr;
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, agent_.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collectBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
  const Timeouts limits = currentTimeouts();
  applyTimeouts(e, limits);
  // A byte now and then keeps the idle check quiet; only a deadline ends it.
  curl_easy_setopt(e, CURLOPT_TIMEOUT, static_cast<long>(limits.webDeadline.count()));

  if (curl_easy_perform(e) != CURLE_OK || sink.tooLong) return nullptr;
  long status = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  return std::make_unique<Request>(status, std::move(sink.body));
}

}  // namespace kiv::net
