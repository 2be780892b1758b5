#pragma once

#include <platform/internet/internet.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What every platform's internet client shares: the time-outs in force and the
// rules a name must pass before it goes into a command or a URL.
namespace kiv::net::detail {

Timeouts currentTimeouts();

// Whether puts to this FTP server ("host[:port]") go in passive mode.
bool passiveNeeded(const std::string& server);
// From now on puts to the server go in passive mode; the reason is told once.
void switchToPassive(const std::string& server, const std::string& reason);

// Why a server's data connection goes the other way.
inline constexpr const char* kActiveRefused = "the FTP server refused active mode; sending in passive mode";
inline constexpr const char* kNoConnectBack =
    "the FTP server never opened the data connection in active mode; sending in passive mode";

bool isControl(char c);
// Any control character but tab would end or split an FTP command line.
bool safeInCommand(std::string_view text);
// How long the server has to confirm a put once its last byte was handed over.
std::chrono::seconds putConfirmationWait(const Timeouts& limits, std::uint64_t bytes);
// The size in a SIZE reply ("213 102400"), or nullopt when the reply names
// no plain number: a bare "213", "213 12x".
std::optional<std::uint64_t> sizeInReply(std::string_view line);
// A name or address with an optional port, nothing that would change the
// meaning of a URL made with it.
bool isPlainHost(std::string_view host);

// What an FTP client knows of its last failure.
struct FtpTrouble {
  bool refused = false;        // the login was answered with 530
  bool neverLoggedIn = false;  // no connection or login ever succeeded
  std::string server;          // "host[:port]"
  std::string user;
  std::string password;        // only to keep it out of the words
  std::string reply;           // the server's last refusing reply, if any
  std::string leftOnServer;    // a file of the failed put the client could not remove
};
// The failure in the user's words: the refused login names the account, an
// unreachable server its address, otherwise the server's reply. Never the
// password, even where a server repeats it. A file left behind is named.
std::string describe(const FtpTrouble& trouble);
// The last reply line of the lines given that refuses (code 400 and up).
std::string refusingReply(const std::vector<std::string>& lines);

}  // namespace kiv::net::detail
