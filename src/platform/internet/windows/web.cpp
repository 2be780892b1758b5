#include <platform/internet/internet.hpp>

#include "wininet.hpp"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace kiv::net {
namespace {

using namespace detail;

// An http or https URL with nothing a request line could not carry.
bool isWebUrl(std::string_view url) {
  const auto startsWith = [&](std::string_view scheme) {
    return url.size() > scheme.size() &&
           std::equal(scheme.begin(), scheme.end(), url.begin(),
                      [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
  };
  if (!startsWith("http://") && !startsWith("https://")) return false;
  return std::none_of(url.begin(), url.end(), [](char c) { return c == ' ' || isControl(c); });
}

// What the status callback needs while InternetOpenUrlA makes its handles.
struct UrlWatch {
  Watchdog watchdog;
  Timeouts limits;
};

// Hands the request InternetOpenUrlA makes its time-outs, which it would not
// take from the session under every WinINet, and to the watchdog, which can
// then abort the request alone and leave the session's kept connections be.
void CALLBACK noteHandle(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
  if (status != INTERNET_STATUS_HANDLE_CREATED || context == 0 || information == nullptr ||
      length < sizeof(HINTERNET)) {
    return;
  }
  auto* watch = reinterpret_cast<UrlWatch*>(context);
  // The new handle comes first, alone or as the result of an INTERNET_ASYNC_RESULT.
  const HINTERNET created = *static_cast<HINTERNET*>(information);
  if (created == nullptr) return;
  applyTimeouts(created, watch->limits);
  watch->watchdog.retarget(created);
}

struct Fetched {
  long status = 0;
  std::string body;
  std::string location;  // where a redirect points, else empty
};

bool isRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A redirect's Location made absolute against the URL it answered.
std::string resolved(const std::string& base, const std::string& location) {
  std::string combined(2048, '\0');
  DWORD length = static_cast<DWORD>(combined.size());
  if (!InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &length, ICU_NO_ENCODE)) return {};
  combined.resize(length);
  return combined;
}

// One request of url, without following a redirect; nothing when no whole
// answer came by the deadline.
std::optional<Fetched> fetch(Handle& internet, UrlWatch& watch, const std::string& url, Clock::time_point deadline) {
  static const char kNoCache[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                      INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                      INTERNET_FLAG_NO_AUTO_REDIRECT;
  // Until the request handle is known only the whole session can be closed.
  watch.watchdog.arm(internet.get(), std::min(deadline, Clock::now() + watch.limits.connect + watch.limits.idle));
  HINTERNET opened = InternetOpenUrlA(internet.get(), url.c_str(), kNoCache, static_cast<DWORD>(-1L), flags,
                                      reinterpret_cast<DWORD_PTR>(&watch));
  if (const HINTERNET closed = watch.watchdog.disarm()) {
    // Whichever it closed, the handle returned is gone with it.
    if (closed == internet.get()) internet.forget();
    return std::nullopt;
  }
  if (opened == nullptr) return std::nullopt;
  Handle request(opened);

  Fetched fetched;
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr))
    return std::nullopt;
  fetched.status = static_cast<long>(status);
  if (isRedirect(status)) {
    char location[2048];
    length = sizeof location;
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_LOCATION, location, &length, nullptr) || length == 0)
      return std::nullopt;
    fetched.location.assign(location, length);
    return fetched;
  }
  // A byte now and then passes every receive time-out; only the deadline ends it.
  bool whole = false;
  watch.watchdog.arm(request.get(), deadline);
  for (;;) {
    char buffer[1024];
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer, sizeof buffer, &got)) break;
    if (got == 0) {
      whole = true;
      break;
    }
    if (fetched.body.size() + got > kMaxBodyBytes) break;
    fetched.body.append(buffer, got);
  }
  if (watch.watchdog.disarm()) {
    request.forget();
    return std::nullopt;
  }
  if (!whole) return std::nullopt;
  return fetched;
}

}  // namespace

// One internet handle for the session's requests: WinINet keeps their
// connections alive under it.
struct Session::Web {
  UrlWatch watch;  // outlives every handle it is the context of
  Handle internet;
};

Session::Session(std::string agent) : agent_(std::move(agent)) {}
Session::~Session() = default;

std::unique_ptr<Request> Session::openUrl(const std::string& url) {
  try {
    if (!isWebUrl(url)) return nullptr;
    if (!web_) web_ = std::make_unique<Web>();
    Handle& internet = web_->internet;
    // The system's proxy settings, as every other program on the machine.
    if (!internet) {
      internet.reset(InternetOpenA(agent_.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
      if (!internet) return nullptr;
      InternetSetStatusCallbackA(internet.get(), noteHandle);
    }
    UrlWatch& watch = web_->watch;
    watch.limits = currentTimeouts();
    applyTimeouts(internet.get(), watch.limits);

    // WinINet's own redirects have no bound under every implementation (Wine
    // followed a loop for minutes, past every deadline): they are followed
    // here, as curl does, ten at the most and within the one deadline.
    const auto deadline = Clock::now() + watch.limits.webDeadline;
    std::string target = url;
    for (int redirects = 0;; ++redirects) {
      std::optional<Fetched> fetched = fetch(internet, watch, target, deadline);
      if (!fetched) return nullptr;
      if (fetched->location.empty()) return std::make_unique<Request>(fetched->status, std::move(fetched->body));
      if (redirects == 10 || Clock::now() >= deadline) return nullptr;
      target = resolved(target, fetched->location);
      if (!isWebUrl(target)) return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}

}  // namespace kiv::net
