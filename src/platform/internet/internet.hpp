#pragma once

#include <platform/export.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The internet client: a session that opens URLs and FTP connections, shaped
// like the classic internet client calls so a transfer reads step by step.
//
// Contract: network failures never throw. A request that gets no answer (or
// one whose body is over 64 KiB) comes back as null; an FTP operation that
// fails returns false. Every call is synchronous and bounded by the time-outs
// below. FTP never goes through a proxy; web requests take theirs from the
// environment (http_proxy, https_proxy, all_proxy, no_proxy).
namespace kiv::net {

class Request;
class FtpConnection;

// Largest response body a Request accepts.
inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;

struct Timeouts {
  // Reaching a server, its greeting and the login included.
  std::chrono::seconds connect{30};
  // Waiting for a reply, or for a transfer to move a byte.
  std::chrono::seconds idle{60};
  // A whole web request, however slowly its answer trickles in.
  std::chrono::seconds webDeadline{120};
  // After a put has handed over its last byte, the server gets the idle time
  // plus the file's size at this rate to confirm it: bytes may still sit in
  // buffers in front of a slow link.
  std::size_t leastPutBytesPerSecond = 1024;
};

// A remote name the FTP server resolves inside the current folder, on Unix and
// Windows servers alike: relative, with no empty, "." or ".." segment ("/" and
// "\" both separate segments), and no control character but tab, which would
// end or split an FTP command. The one rule for where a photo may be put.
KIV_EXPORT bool staysInFolder(std::string_view remoteName);

// Replaces the time-outs for this process, so tests of dead or slow servers
// end quickly. Timeouts{} restores the defaults.
KIV_EXPORT void setTimeoutsForTesting(const Timeouts& timeouts);

// Receives what the client decided on its own that a person should hear of,
// such as "the FTP server refused active mode; sending in passive mode". It is
// called on the thread of the operation, once for each decision, and the text
// names neither an account nor an address. An empty handler drops them.
using NoticeHandler = std::function<void(const std::string& notice)>;
KIV_EXPORT void setNoticeHandler(NoticeHandler handler);

// FTP servers found to need passive mode are remembered for the rest of the
// process; tests that reuse one server's address start afresh with this.
KIV_EXPORT void forgetFtpModesForTesting();

// One session keeps its connections: web requests to the same server share
// one kept-alive connection.
class KIV_EXPORT Session {
 public:
  // The agent is sent as the HTTP User-Agent.
  explicit Session(std::string agent);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Fetches an http or https URL from its server, never from a cache. Any
  // HTTP answer comes back, an error status with its body; null when there
  // was no answer within the time-outs or its body is over kMaxBodyBytes.
  std::unique_ptr<Request> openUrl(const std::string& url);

  // Prepares an FTP connection to "host" or "host:port" (port 21 by default).
  // Nothing is sent yet: the first operation connects and logs in. When that
  // fails, every later operation fails at once without touching the network,
  // so a wrong password costs one refused login, not one per operation.
  std::unique_ptr<FtpConnection> connectFtp(const std::string& host, const std::string& user,
                                            const std::string& password);

  const std::string& agent() const { return agent_; }

 private:
  struct Web;
  std::string agent_;
  std::unique_ptr<Web> web_;
};

// The answer to a request: its HTTP status and its body, handed out in pieces.
class KIV_EXPORT Request {
 public:
  Request(long status, std::string body);

  long status() const { return status_; }
  // False for an error answer (status 400 and up).
  bool succeeded() const { return status_ < 400; }

  // Copies up to size bytes into buffer; returns how many, 0 at the end.
  std::size_t read(char* buffer, std::size_t size);

 private:
  long status_;
  std::string body_;
  std::size_t position_ = 0;
};

// One FTP login, kept across its operations; when the server drops it between
// two of them, the next one logs in again. Transfers are binary and in active
// mode, the data connection coming from the server. Where the server refuses
// that (behind an office's NAT router it sees a private address, or it allows
// passive mode only) or never connects back, the same put goes at once in
// passive mode, and so does every later one to that server in this process.
// Names holding CR, LF, NUL or another control character but tab
// are refused, since they would smuggle commands into the session.
class KIV_EXPORT FtpConnection {
 public:
  ~FtpConnection();
  FtpConnection(const FtpConnection&) = delete;
  FtpConnection& operator=(const FtpConnection&) = delete;

  bool setCurrentDirectory(const std::string& path);
  bool createDirectory(const std::string& name);

  // Stores the local file (a UTF-8 path) under remoteName, a relative path
  // below the current directory: one that starts with "/" or holds an empty,
  // "." or ".." segment is refused unsent. True only when the server confirmed the transfer and,
  // where it answers SIZE, holds exactly as many bytes as were sent.
  bool putFile(const std::string& local, const std::string& remoteName);

  // True once the server answered the login with 530: every further login
  // with this account would be refused too.
  bool loginRefused() const;
  // No connection or login ever succeeded, for a reason other than a refused
  // login: a run stops rather than wait on it once per photo.
  bool unreachable() const;
  // Why the last operation failed, in the user's words (never the password).
  std::string trouble() const;

 private:
  friend class Session;
  struct Impl;
  explicit FtpConnection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kiv::net
