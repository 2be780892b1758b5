#pragma once

#include <platform/internet/internet.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

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
// A name or address with an optional port, nothing that would change the
// meaning of a URL made with it.
bool isPlainHost(std::string_view host);

}  // namespace kiv::net::detail
