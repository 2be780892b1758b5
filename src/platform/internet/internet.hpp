#pragma once

#include <platform/export.hpp>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

// The internet client: a session that opens URLs and FTP connections, shaped
// like the classic internet client calls so a transfer reads step by step.
//
// Contract: network failures never throw. A request that cannot be made, or
// whose answer is unusable (HTTP status 400 and up, a body over 64 KiB), comes
// back as null; an FTP operation that fails returns false. Every call is
// synchronous and gives up when connecting takes longer than the connect
// time-out or when a transfer moves no byte for the idle time-out.
namespace kiv::net {

class Request;
class FtpConnection;

// Largest response body a Request accepts.
inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;

inline constexpr std::chrono::seconds kConnectTimeout{30};
inline constexpr std::chrono::seconds kIdleTimeout{60};

// Replaces the two time-outs for this process, so tests of dead servers end
// quickly. Pass kConnectTimeout and kIdleTimeout to restore them.
KIV_EXPORT void setTimeoutsForTesting(std::chrono::seconds connect, std::chrono::seconds idle);

class KIV_EXPORT Session {
 public:
  // The agent is sent as the HTTP User-Agent.
  explicit Session(std::string agent);

  // Fetches the URL from its server, never from a cache. Proxies come from
  // the environment. Null when the request failed or its answer is unusable.
  std::unique_ptr<Request> openUrl(const std::string& url);

  // Prepares an FTP connection to "host" or "host:port" (port 21 by default).
  // Nothing is sent yet: the login happens with the first operation, so a
  // wrong host or password shows as failing operations.
  std::unique_ptr<FtpConnection> connectFtp(const std::string& host, const std::string& user,
                                            const std::string& password);

  const std::string& agent() const { return agent_; }

 private:
  std::string agent_;
};

// The body of an answered request, handed out in pieces.
class KIV_EXPORT Request {
 public:
  explicit Request(std::string body);

  // Copies up to size bytes into buffer; returns how many, 0 at the end.
  std::size_t read(char* buffer, std::size_t size);

 private:
  std::string body_;
  std::size_t position_ = 0;
};

// One FTP login, kept across its operations. Transfers are binary and in
// active mode. Names holding CR, LF or NUL are refused, since they would
// smuggle commands into the session.
class KIV_EXPORT FtpConnection {
 public:
  ~FtpConnection();
  FtpConnection(const FtpConnection&) = delete;
  FtpConnection& operator=(const FtpConnection&) = delete;

  bool setCurrentDirectory(const std::string& path);
  bool createDirectory(const std::string& name);

  // Stores the local file under remoteName, relative to the current
  // directory. True only when the server confirmed the transfer and, where it
  // answers SIZE, holds exactly as many bytes as were sent.
  bool putFile(const std::filesystem::path& local, const std::string& remoteName);

 private:
  friend class Session;
  struct Impl;
  explicit FtpConnection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kiv::net
