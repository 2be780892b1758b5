#pragma once

// Internal to the WinINet implementation: the handle owner, the watchdog that
// bounds a blocking call, time-outs and how a Windows error becomes an outcome,
// shared by the web requests and the FTP connection.

#include <platform/internet/internet.hpp>

#include "../rules.hpp"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace kiv::net::detail {

using Clock = std::chrono::steady_clock;

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

inline DWORD milliseconds(std::chrono::seconds limit) {
  return static_cast<DWORD>(std::min<std::chrono::seconds::rep>(limit.count(), 0x7fffffff / 1000) * 1000);
}

inline void setTimeout(HINTERNET handle, DWORD option, std::chrono::seconds limit) {
  DWORD value = milliseconds(limit);
  InternetSetOptionA(handle, option, &value, sizeof value);
}

inline void applyTimeouts(HINTERNET handle, const Timeouts& limits) {
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
inline Outcome outcomeOf(BOOL succeeded, DWORD error) {
  if (succeeded) return Outcome::Done;
  return error == ERROR_INTERNET_EXTENDED_ERROR || error == ERROR_INTERNET_LOGIN_FAILURE ? Outcome::Refused
                                                                                        : Outcome::Silent;
}

// The server's last reply on this thread, e.g. "213 4096".
inline std::string lastReply() {
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

inline long replyCode(std::string_view reply) {
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
inline bool loginRefusedBy(DWORD error) {
  return error == ERROR_INTERNET_LOGIN_FAILURE ||
         (error == ERROR_INTERNET_EXTENDED_ERROR && replyCode(lastReply()) == 530);
}

}  // namespace kiv::net::detail
