#pragma once

// The command line both hosts share: one table of options, each setting a
// property of the control or steering the host.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kiv::app {

// A command line that cannot be run as given (exit status 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Program { Terminal, Desktop };

// What the terminal program does once the control is shown.
enum class Action { None, List, UploadAll, UploadSelected };

struct Options {
  std::optional<std::filesystem::path> propertiesFile;
  std::optional<std::filesystem::path> passwordFile;
  // Property name and value, in command-line order.
  std::vector<std::pair<std::string, std::string>> settings;
  bool save = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  Action action = Action::None;
  std::vector<int> selection;  // photo numbers counted from 1, ascending, no repeats
};

// arguments without the program name. Throws UsageError naming what is wrong.
Options parseOptions(Program program, const std::vector<std::string>& arguments);

std::string helpText(Program program);

// Where this user's property file is kept when no --properties names one:
// $XDG_CONFIG_HOME (or ~/.config) on Linux, %APPDATA% on Windows, each in a
// kivPhotoUpload folder. Nothing when the environment names no such place.
std::optional<std::filesystem::path> defaultPropertiesFile();

// "3,1,5-7" -> {1, 3, 5, 6, 7}.
std::vector<int> parseSelection(const std::string& text);

}  // namespace kiv::app
