#pragma once

// How both hosts set the control up: the property file, the environment and
// the command line, in that order, and the property file written back only
// when the user asked for it.

#include "options.hpp"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv {
class Upload;
}

namespace kiv::app {

// A setting that cannot be used: a damaged property file, a bad value, an
// unreadable password file (exit status 2). The text names where it came from:
// the file and line, or the command line, and the property.
class SettingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct AppliedSettings {
  // Said to the user before anything is sent.
  std::vector<std::string> warnings;
  // No FTP password was given anywhere, so the built-in default is in use.
  bool defaultPassword = false;
  // The photo folder was given, on the command line or in the property file.
  bool folderGiven = false;
};

// Reads the property file when it exists (InitProperties otherwise), then
// KIV_FTP_PASSWORD, the command-line settings in order and the password file.
// Photo sizes below 1 pixel are refused. Throws SettingError; the control is
// then half set up and must not be used to send anything.
AppliedSettings applySettings(Upload& upload, const Options& options);

// Writes the control's properties to the file, keeping what else it holds.
void saveProperties(Upload& upload, const std::filesystem::path& file);

extern const char* const DefaultPasswordWarning;

}  // namespace kiv::app
