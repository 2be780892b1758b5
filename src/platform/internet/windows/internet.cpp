#include <platform/internet/internet.hpp>
#include <platform/windows/utf16.hpp>

#include "../rules.hpp"

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

using Clock = std::chrono::steady_clock;

using detail::currentTimeouts;
using detail::isControl;
using detail::isPlainHost;
using detail::safeInCommand;

// Owns one internet handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HINTERNET handle) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(HINTERNET handle = nullptr) {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = handle;
  }
  // For a handle something else has closed already: closing it again could
  // hit a handle handed out since under the same value.
  void forget() { handle_ = nullptr; }

 private:
  HINTERNET handle_ = nullptr;
};

// Bounds blocking calls. WinINet has no limit for a whole request, and under
// some stacks its FTP replies ignore the time-out options; closing a handle
// from another thread is how a call in progress on it is aborted.
class Watchdog {
 public:
  Watchdog() = default;
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Closes target at the deadline unless disarmed first.
  void arm(HINTERNET target, Clock::time_point deadline) {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { watch(); });
      } catch (...) {
        return;  // the time-out options still bound most waits
      }
    }
    target_ = target;
    deadline_ = deadline;
    closed_ = nullptr;
    wake_.notify_all();
  }

  // Moves an armed watch to a handle made during the call.
  void retarget(HINTERNET target) {
    std::lock_guard lock(mutex_);
    if (target_ != nullptr) target_ = target;
  }

  // The handle it closed when the deadline passed, else null.
  HINTERNET disarm() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
    return std::exchange(closed_, nullptr);
  }

 private:
  void watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (target_ == nullptr) {
        wake_.wait(lock);
      } else if (Clock::now() >= deadline_) {
        closed_ = std::exchange(target_, nullptr);
        InternetCloseHandle(closed_);
      } else {
        wake_.wait_until(lock, deadline_);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  HINTERNET target_ = nullptr;
  Clock::time_point deadline_{};
  HINTERNET closed_ = nullptr;
  bool stopping_ = false;
};

DWORD milliseconds(std::chrono::seconds limit) {
  return static_cast<DWORD>(std::min<std::chrono::seconds::rep>(limit.count(), 0x7fffffff / 1000) * 1000);
}

void setTimeout(HINTERNET handle, DWORD option, std::chrono::seconds limit) {
  DWORD value = milliseconds(limit);
  InternetSetOptionA(handle, option, &value, sizeof value);
}

void applyTimeouts(HINTERNET handle, const Timeouts& limits) {
  setTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, limits.connect);
  for (const DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                             INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
    setTimeout(handle, option, limits.idle);
  }
}

// How a call ended, as far as the rules above it care.
enum class Outcome {
  Done,
  Refused,  // the server answered no; the connection is fine
  Silent,   // no answer at all: the connection is dead or the server mute
  Lost,     // the connection broke after the server had answered part of it
};

// The one place a Windows error becomes an outcome. WinINet reports an FTP
// server's own "no" as an extended error whose text is the server's reply.
Outcome outcomeOf(BOOL succeeded, DWORD error) {
  if (succeeded) return Outcome::Done;
  return error == ERROR_INTERNET_EXTENDED_ERROR || error == ERROR_INTERNET_LOGIN_FAILURE ? Outcome::Refused
                                                                                        : Outcome::Silent;
}

// The server's last reply on this thread, e.g. "213 4096".
std::string lastReply() {
  DWORD error = 0;
  char text[1024];
  DWORD length = sizeof text;
  if (!InternetGetLastResponseInfoA(&error, text, &length)) return {};
  std::string reply(text, std::min<DWORD>(length, sizeof text));
  while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n' || reply.back() == '\0')) reply.pop_back();
  // Of a reply over several lines, the last one carries the final code.
  const std::size_t lastLine = reply.find_last_of('\n');
  return lastLine == std::string::npos ? reply : reply.substr(lastLine + 1);
}

long replyCode(std::string_view reply) {
  if (reply.size() < 3) return 0;
  long code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return 0;
    code = code * 10 + (reply[i] - '0');
  }
  return reply.size() == 3 || reply[3] == ' ' || reply[3] == '-' ? code : 0;
}

// Whether a failed login was the server's 530. The reply text outlives its
// call, so it counts only together with the error.
bool loginRefusedBy(DWORD error) {
  return error == ERROR_INTERNET_LOGIN_FAILURE ||
         (error == ERROR_INTERNET_EXTENDED_ERROR && replyCode(lastReply()) == 530);
}



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

struct FileCloser {
  void operator()(HANDLE file) const { CloseHandle(file); }
};
using LocalFile = std::unique_ptr<void, FileCloser>;

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

    const auto start = Clock::now();
    const auto deadline = start + watch.limits.webDeadline;
    static const char kNoCache[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH |
                        INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
    // Until the request handle is known only the whole session can be closed.
    watch.watchdog.arm(internet.get(), std::min(deadline, start + watch.limits.connect + watch.limits.idle));
    HINTERNET opened = InternetOpenUrlA(internet.get(), url.c_str(), kNoCache, static_cast<DWORD>(-1L), flags,
                                        reinterpret_cast<DWORD_PTR>(&watch));
    if (const HINTERNET closed = watch.watchdog.disarm()) {
      // Whichever it closed, the handle returned is gone with it.
      if (closed == internet.get()) internet.forget();
      return nullptr;
    }
    if (opened == nullptr) return nullptr;
    Handle request(opened);

    DWORD status = 0;
    DWORD length = sizeof status;
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr)) {
      return nullptr;
    }
    // A byte now and then passes every receive time-out; only the deadline ends it.
    std::string body;
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
      if (body.size() + got > kMaxBodyBytes) break;
      body.append(buffer, got);
    }
    if (watch.watchdog.disarm()) {
      request.forget();
      return nullptr;
    }
    if (!whole) return nullptr;
    return std::make_unique<Request>(static_cast<long>(status), std::move(body));
  } catch (...) {
    return nullptr;
  }
}

struct FtpConnection::Impl {
  std::string agent;
  std::string host;
  INTERNET_PORT port = INTERNET_DEFAULT_FTP_PORT;
  std::string user;
  std::string password;
  bool usable = false;    // host and account are safe to send
  bool loggedIn = false;  // a login on this connection has succeeded
  bool gaveUp = false;    // the first connection or login failed
  bool refused = false;   // the login was answered with 530
  std::string folder;     // the folder puts go into, once entered: "/12"
  std::string server;     // "host[:port]" as given, what its data mode is remembered by
  bool passive = false;   // data connections go to the server
  // Why the last put could not make its active data connection, if that is why it failed.
  const char* activeTrouble = nullptr;
  Handle internet;        // FTP's own, never through a proxy
  Handle connection;
  Watchdog watchdog;

  std::string inFolder(const std::string& name) const { return folder.empty() ? name : folder + "/" + name; }

  bool openInternet() {
    if (!internet) internet.reset(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    return static_cast<bool>(internet);
  }

  // Dials and logs in: WinINet does both before it hands out an FTP handle.
  Outcome connect() {
    if (!openInternet()) return Outcome::Silent;
    const Timeouts limits = currentTimeouts();
    applyTimeouts(internet.get(), limits);
    watch(limits.connect);
    // Without the passive flag the data connection comes from the server.
    HINTERNET opened = InternetConnectA(internet.get(), host.c_str(), port, user.c_str(), password.c_str(),
                                        INTERNET_SERVICE_FTP, passive ? INTERNET_FLAG_PASSIVE : 0, 0);
    const DWORD error = GetLastError();
    if (aborted()) return Outcome::Silent;
    if (opened == nullptr) {
      if (loginRefusedBy(error)) refused = true;
      return outcomeOf(FALSE, error);
    }
    connection.reset(opened);
    loggedIn = true;
    return Outcome::Done;
  }

  // The watchdog closes the whole FTP session, not just the connection: a
  // reply awaited on a closed connection handle may still wait on.
  void watch(std::chrono::seconds limit) { watchdog.arm(internet.get(), Clock::now() + limit); }
  bool aborted() {
    if (watchdog.disarm() == nullptr) return false;
    connection.forget();
    internet.forget();
    return true;
  }

  // One call on the connection, aborted when it runs past limit.
  template <typename Call>
  Outcome guarded(std::chrono::seconds limit, Call call) {
    watch(limit);
    const BOOL succeeded = call();
    const DWORD error = GetLastError();
    if (aborted()) return Outcome::Silent;
    return outcomeOf(succeeded, error);
  }

  // Runs a step on the one connection, logging in first when there is none.
  // A failure before any login succeeded is final: the classic client, once
  // its connect failed, made the later calls fail without dialling again.
  template <typename Step>
  Outcome perform(Step step) {
    if (!usable || gaveUp) return Outcome::Silent;
    bool fresh = false;
    if (!connection) {
      const Outcome connected = connect();
      if (connected != Outcome::Done) {
        if (!loggedIn || refused) gaveUp = true;
        return connected;
      }
      fresh = true;
    }
    Outcome result = step();
    // A kept connection the server has dropped meanwhile answers nothing: the
    // same step goes once more over a new connection and login.
    if (result == Outcome::Silent && !fresh) {
      connection.reset();
      const Outcome connected = connect();
      if (connected != Outcome::Done) {
        if (refused) gaveUp = true;
        return connected;
      }
      result = step();
    }
    if (result == Outcome::Silent || result == Outcome::Lost) connection.reset();
    return result;
  }

  Outcome command(const std::string& line) {
    return perform([&] {
      return guarded(currentTimeouts().idle, [&] {
        return FtpCommandA(connection.get(), FALSE, FTP_TRANSFER_TYPE_BINARY, line.c_str(), 0, nullptr);
      });
    });
  }

  // STOR through an open FTP file rather than FtpPutFileA: that one call
  // would hide when the bytes stop moving and when the last one has gone, and
  // each has its own limit. The local file is read through its wide name, so
  // no name is lost to the ANSI code page.
  Outcome store(HANDLE local, std::uint64_t size, const std::string& remoteName) {
    const Timeouts limits = currentTimeouts();
    const LARGE_INTEGER origin{};
    if (!SetFilePointerEx(local, origin, nullptr, FILE_BEGIN)) return Outcome::Refused;

    HINTERNET opened = nullptr;
    const Outcome began = guarded(limits.connect + limits.idle, [&] {
      opened = FtpOpenFileA(connection.get(), remoteName.c_str(), GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY, 0);
      return opened != nullptr;
    });
    if (!passive && began != Outcome::Done) activeTrouble = activeFailure(began);
    // A STOR left unanswered has been answered in part (its TYPE and PORT):
    // no second try.
    if (began == Outcome::Silent && !internet) return Outcome::Lost;
    if (began != Outcome::Done) return began;
    Handle remote(opened);

    // The file goes out in small writes, so a transfer that stops moving is
    // noticed within the idle time, however slow the link.
    bool sent = true;
    std::uint64_t left = size;
    char buffer[4096];
    while (left > 0 && sent) {
      DWORD got = 0;
      if (!ReadFile(local, buffer, static_cast<DWORD>(std::min<std::uint64_t>(left, sizeof buffer)), &got, nullptr) ||
          got == 0) {
        sent = false;
        break;
      }
      left -= got;
      DWORD written = 0;
      watch(limits.idle);
      const BOOL wrote = InternetWriteFile(remote.get(), buffer, got, &written);
      if (aborted()) {
        remote.forget();
        return Outcome::Lost;
      }
      sent = wrote && written == got;
    }

    // Closing the file ends the data connection and waits for the server's
    // confirmation, which may lag behind a slow link by the file's size.
    const auto confirmWait = detail::putConfirmationWait(limits, static_cast<std::uint64_t>(size));
    for (const HINTERNET handle : {connection.get(), remote.get()}) {
      setTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, confirmWait);
    }
    watch(sent ? confirmWait : limits.idle);
    remote.reset();
    if (aborted()) return Outcome::Lost;
    setTimeout(connection.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, limits.idle);
    if (!sent) return Outcome::Lost;
    const long code = replyCode(lastReply());
    if (code >= 200 && code < 300) return Outcome::Done;
    return code >= 400 ? Outcome::Refused : Outcome::Lost;
  }

  // Whether an active put that did not begin failed for want of its data
  // connection: PORT refused (the replies PORT gets), the server unable to
  // connect (425), or its STOR accepted and the connection never made.
  static const char* activeFailure(Outcome began) {
    const long code = replyCode(lastReply());
    if (began == Outcome::Refused && (code == 425 || code == 500 || code == 501 || code == 502 || code == 504)) {
      return detail::kActiveRefused;
    }
    if (began == Outcome::Silent && (code == 150 || code == 125)) return detail::kNoConnectBack;
    return nullptr;
  }

  // WinINet takes the mode with the connection: passive puts go over a new login.
  void usePassive() {
    passive = true;
    connection.reset();
  }

  // A server may confirm a transfer it did not keep whole; ask what it holds.
  // Only a server that does not know SIZE is taken at its word.
  bool holds(const std::string& remoteName, std::uint64_t size) {
    if (command("SIZE " + remoteName) == Outcome::Silent) return false;
    const std::string reply = lastReply();
    const long code = replyCode(reply);
    if (code == 500 || code == 502 || code == 504) return true;
    if (code != 213 || reply.size() < 5) return false;
    const char* digits = reply.c_str() + 4;
    char* end = nullptr;
    errno = 0;
    const unsigned long long held = std::strtoull(digits, &end, 10);
    return end != digits && errno == 0 && held == size;
  }
};

FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FtpConnection::~FtpConnection() = default;

std::unique_ptr<FtpConnection> Session::connectFtp(const std::string& host, const std::string& user,
                                                   const std::string& password) {
  auto impl = std::make_unique<FtpConnection::Impl>();
  impl->agent = agent_;
  impl->user = user;
  impl->password = password;
  // "host", "host:port", "[v6 address]" or "[v6 address]:port".
  std::string_view name = host;
  std::optional<std::string_view> digits;
  bool plain = isPlainHost(host);
  if (!name.empty() && name.front() == '[') {
    const std::size_t close = name.find(']');
    plain = plain && close != std::string_view::npos && (close + 1 == name.size() || name[close + 1] == ':');
    if (plain && close + 1 < name.size()) digits = name.substr(close + 2);
    name = plain ? name.substr(1, close - 1) : std::string_view{};
  } else if (const std::size_t colon = name.find(':'); colon != std::string_view::npos) {
    digits = name.substr(colon + 1);
    name = name.substr(0, colon);
  }
  long port = INTERNET_DEFAULT_FTP_PORT;
  if (digits) {
    plain = plain && !digits->empty() && digits->size() <= 5 &&
            std::all_of(digits->begin(), digits->end(), [](char c) { return c >= '0' && c <= '9'; });
    port = plain ? std::strtol(std::string(*digits).c_str(), nullptr, 10) : 0;
    plain = plain && port > 0 && port <= 65535;
  }
  impl->host = std::string(name);
  impl->port = static_cast<INTERNET_PORT>(port);
  impl->server = host;
  impl->passive = detail::passiveNeeded(host);
  // A line break in the account would smuggle commands into the login.
  impl->usable = plain && !impl->host.empty() && safeInCommand(user) && safeInCommand(password);
  return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(impl)));
}

// Puts name their folder in full, so a folder once entered needs no second
// CWD, not even after the server dropped the connection and a new login
// started elsewhere.
bool FtpConnection::setCurrentDirectory(const std::string& path) {
  if (!impl_->folder.empty() && path == impl_->folder) return true;
  if (!safeInCommand(path)) return false;
  const bool entered = impl_->perform([&] {
    return impl_->guarded(currentTimeouts().idle,
                          [&] { return FtpSetCurrentDirectoryA(impl_->connection.get(), path.c_str()); });
  }) == Outcome::Done;
  if (entered && path.size() > 1 && path.front() == '/' && path.back() != '/') impl_->folder = path;
  return entered;
}

bool FtpConnection::createDirectory(const std::string& name) {
  if (!safeInCommand(name)) return false;
  return impl_->perform([&] {
    return impl_->guarded(currentTimeouts().idle,
                          [&] { return FtpCreateDirectoryA(impl_->connection.get(), name.c_str()); });
  }) == Outcome::Done;
}

bool FtpConnection::loginRefused() const { return impl_->refused; }

bool FtpConnection::putFile(const std::string& local, const std::string& remoteName) {
  try {
    if (!staysInFolder(remoteName)) return false;
    const std::wstring name = winapi::widen(local);
    HANDLE opened = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    LocalFile file(opened);
    LARGE_INTEGER size{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) return false;
    const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
    const std::string target = impl_->inFolder(remoteName);
    const auto store = [&] { return impl_->store(file.get(), bytes, target); };
    impl_->activeTrouble = nullptr;
    Outcome stored = impl_->perform(store);
    if (stored != Outcome::Done && impl_->activeTrouble != nullptr) {
      impl_->usePassive();
      detail::switchToPassive(impl_->server, impl_->activeTrouble);
      stored = impl_->perform(store);
    }
    if (stored != Outcome::Done) return false;
    return impl_->holds(target, bytes);
  } catch (...) {
    return false;
  }
}

}  // namespace kiv::net
