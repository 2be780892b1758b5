#pragma once

#include <platform/internet/internet.hpp>

#include <string_view>

// What every platform's internet client shares: the time-outs in force and the
// rules a name must pass before it goes into a command or a URL.
namespace kiv::net::detail {

Timeouts currentTimeouts();

bool isControl(char c);
// Any control character but tab would end or split an FTP command line.
bool safeInCommand(std::string_view text);
// A path below the current directory that the server takes as it is written:
// no root, no empty, "." or ".." segment.
bool isPlainRelativePath(std::string_view path);
// A name or address with an optional port, nothing that would change the
// meaning of a URL made with it.
bool isPlainHost(std::string_view host);

}  // namespace kiv::net::detail
