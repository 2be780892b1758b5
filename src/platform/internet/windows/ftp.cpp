#include <platform/internet/internet.hpp>
#include <platform/windows/utf16.hpp>

#include "wininet.hpp"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
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

struct FileCloser {
  void operator()(HANDLE file) const { CloseHandle(file); }
};
using LocalFile = std::unique_ptr<void, FileCloser>;

}  // namespace

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
  std::string troubleReply;  // the refusing reply of the last failed operation
  // Why the last put could not make its active data connection, if that is why it failed.
  const char* activeTrouble = nullptr;
  // The last put handed over every byte and the server refused nothing; only
  // the word that it was stored may be missing.
  bool handedOverWhole = false;
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
    const Outcome result = performSteps(step);
    if (result != Outcome::Done) {
      const std::string reply = lastReply();
      troubleReply = replyCode(reply) >= 400 ? reply : std::string();
    }
    return result;
  }

  template <typename Step>
  Outcome performSteps(Step step) {
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
    // A kept connection the server has dropped meanwhile answers nothing, or
    // only the 421 it sent as it ended an idle login: the same step goes once
    // more over a new connection and login.
    const bool endedByServer =
        result == Outcome::Silent || (result == Outcome::Refused && replyCode(lastReply()) == 421);
    if (endedByServer && !fresh) {
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
    handedOverWhole = sent;
    if (aborted()) return Outcome::Lost;
    setTimeout(connection.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, limits.idle);
    if (!sent) return Outcome::Lost;
    const long code = replyCode(lastReply());
    if (code >= 200 && code < 300) return Outcome::Done;
    handedOverWhole = code < 400 || code == 421;
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

  // Whether the server holds exactly size bytes under the name, or nullopt
  // when it cannot say: it does not know SIZE, or answers it with no number.
  std::optional<bool> holds(const std::string& remoteName, std::uint64_t size) {
    if (command("SIZE " + remoteName) == Outcome::Silent) return false;
    long code = replyCode(lastReply());
    // Over a new login no transfer has set binary mode yet, and servers
    // refuse SIZE in ASCII mode.
    if (code == 550 && command("TYPE I") == Outcome::Done) {
      if (command("SIZE " + remoteName) == Outcome::Silent) return false;
      code = replyCode(lastReply());
    }
    if (code == 500 || code == 502 || code == 504) return std::nullopt;
    if (code != 213) return false;
    const std::optional<std::uint64_t> held = sizeInReply(lastReply());
    if (!held) return std::nullopt;
    return *held == size;
  }

  // A put is confirmed by its 226 and, where the server can say, the size it
  // holds. Without the 226, because the connection broke after the last byte
  // went, only a server holding every byte confirms it.
  bool confirmed(Outcome put, const std::string& remoteName, std::uint64_t size) {
    const bool answered = put == Outcome::Done;
    if (!answered && !(put == Outcome::Lost && handedOverWhole)) return false;
    const std::optional<bool> held = holds(remoteName, size);
    return held ? *held : answered;
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

bool FtpConnection::unreachable() const { return impl_->gaveUp && !impl_->refused; }

std::string FtpConnection::trouble() const {
  return describe({impl_->refused, !impl_->loggedIn, impl_->server, impl_->user, impl_->password, impl_->troubleReply, {}});
}

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
    impl_->handedOverWhole = false;
    Outcome stored = impl_->perform(store);
    if (stored != Outcome::Done && impl_->activeTrouble != nullptr) {
      impl_->usePassive();
      detail::switchToPassive(impl_->server, impl_->activeTrouble);
      stored = impl_->perform(store);
    }
    return impl_->confirmed(stored, target, bytes);
  } catch (...) {
    return false;
  }
}

}  // namespace kiv::net
