#pragma once

// How every host sets the control up: the property file, the environment and
// the command line, in that order, and the property file written back only
// when the user asked for it. The hosts differ only in how they reach the
// control, which SettingsTarget hides.

#include "options.hpp"

#include <filesystem>
#include <string_view>
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

class FilePropertyBag;

// A property the control refused while loading from a property file: its name
// (empty when the control did not say) and the control's words.
struct PropertyLoadError : std::runtime_error {
  PropertyLoadError(std::string property, const std::string& message)
      : std::runtime_error(message), property(std::move(property)) {}
  std::string property;
};

// The control as the settings reach it: through its own object in the
// terminal and Qt hosts, through COM in the Win32 window.
class SettingsTarget {
 public:
  virtual ~SettingsTarget() = default;
  // Loads every property the bag holds; throws PropertyLoadError.
  virtual void load(FilePropertyBag& bag) = 0;
  virtual void startFromDefaults() = 0;
  // Throws SettingError with the control's words.
  virtual void set(std::string_view property, const std::string& utf8) = 0;
  virtual long number(std::string_view property) = 0;
  // Writes the properties into the bag; throws SettingError.
  virtual void save(FilePropertyBag& bag) = 0;
};

struct AppliedSettings {
  // Said to the user before anything is sent.
  std::vector<std::string> warnings;
  // No FTP password was given anywhere, so the built-in default is in use.
  bool defaultPassword = false;
  // The photo folder was given, on the command line or in the property file.
  bool folderGiven = false;
  // What a host needs before it sends anything and nobody gave: the control's
  // own defaults would send to another dealer's car. Options as the user
  // types them ("--vehicle (VehicleID)").
  std::vector<std::string> missing;
};

// Why an upload is refused while settings are missing; empty when none are.
std::string missingSettingsText(const AppliedSettings& applied);

// Reads the property file when it exists (InitProperties otherwise), then
// KIV_FTP_PASSWORD, the command-line settings in order and the password file.
// Photo sizes below 1 pixel are refused. Throws SettingError; the control is
// then half set up and must not be used to send anything.
AppliedSettings applySettings(SettingsTarget& control, const Options& options);
AppliedSettings applySettings(Upload& upload, const Options& options);

// Writes the control's properties to the file, keeping what else it holds.
void saveProperties(SettingsTarget& control, const std::filesystem::path& file);
void saveProperties(Upload& upload, const std::filesystem::path& file);

extern const char* const DefaultPasswordWarning;

}  // namespace kiv::app
