#pragma once

// The command line of kivphoto-desktop. Settings become property assignments
// applied after the saved properties are read, in the order given.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kiv {
class Upload;
}

namespace kiv::desktop {

struct Options {
  std::optional<std::filesystem::path> propertiesFile;
  std::vector<std::pair<std::string, std::string>> properties;  // property name, value as text
  bool help = false;
};

struct UsageError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// args without the program name. password is $KIV_FTP_PASSWORD when set: it
// never travels on a command line, where other users could read it.
Options parseCommandLine(const std::vector<std::string>& args, const char* password);
std::string usage();

// Assigns a property by name (case-insensitive) from text; kiv::Error 438 for
// an unknown name, the control's own error for a bad value.
void applyProperty(Upload& upload, const std::string& name, const std::string& value);

}  // namespace kiv::desktop
