#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kiv::test {

// The client side of the stand-in dealer servers (testing/dealer_servers.py),
// found through the state file named by $KIV_DEALER_SERVERS. Tests call
// reset() first: the servers are shared by every test of a run.
class DealerServers {
 public:
  // Throws std::runtime_error when the state file is missing or unreadable.
  DealerServers();
  // The servers a test started itself, described by their state file.
  explicit DealerServers(const std::filesystem::path& stateFile);

  std::string webBase() const;  // "http://127.0.0.1:PORT", "http://[::1]:PORT"
  std::string ftpHost() const;  // "127.0.0.1:PORT", "[::1]:PORT"
  // A careless HTTP proxy that answers 200 to everything and forwards nothing.
  std::string proxyUrl() const;  // "http://127.0.0.1:PORT"
  int httpPort() const { return httpPort_; }
  int ftpPort() const { return ftpPort_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  const std::filesystem::path& ftpRoot() const { return ftpRoot_; }

  // Clears switches, the request log, photo counters and the FTP root.
  void reset() const;
  // Sets misbehaviour switches, e.g. "ftp_fail_put=1" or "answer=few&delay=2".
  void configure(const std::string& query) const;
  // The recorded requests, one per line ("WEB GET ...", "FTP STOR ...").
  std::vector<std::string> requests() const;

 private:
  std::string control(const std::string& pathAndQuery) const;

  std::string host_;  // as it goes into a URL
  int httpPort_ = 0;
  int ftpPort_ = 0;
  int proxyPort_ = 0;
  std::string user_;
  std::string password_;
  std::filesystem::path ftpRoot_;
};

// The body of a 200 answer to a GET on loopback, never through a proxy;
// std::runtime_error for anything else.
std::string httpGetForTest(const std::string& url);

}  // namespace kiv::test
