#include "settings.hpp"

#include <control/dispatch.hpp>
#include <control/upload.hpp>
#include "property_file.hpp"
#include "utf8_path.hpp"
#include <platform/filesystem/filesystem.hpp>
#include <platform/host/text.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>

#ifdef _WIN32
#include <platform/windows/utf16.hpp>
#endif

namespace kiv::app {
namespace {

using text::equalsIgnoringCase;

std::string readPasswordFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw SettingError("cannot read the password file " + utf8Of(file));
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string fileOrigin(const std::filesystem::path& file, int line) {
  std::string origin = "property file " + utf8Of(file);
  if (line > 0) origin += ", line " + std::to_string(line);
  return origin + ": ";
}

// The terminal and Qt hosts hold the control itself.
class UploadTarget final : public SettingsTarget {
 public:
  explicit UploadTarget(Upload& upload) : upload_(upload) {}

  void load(FilePropertyBag& bag) override {
    try {
      upload_.ReadProperties(bag);
    } catch (const Error& error) {
      // The bag's conversion errors do not say which property; assigning the
      // stored values one by one finds it.
      for (std::string_view name : dispatch::persistedPropertyNames()) {
        if (!bag.contains(name)) continue;
        try {
          dispatch::letProperty(upload_, name, bag.ReadProperty(name, host::Variant()));
        } catch (const Error& named) {
          throw PropertyLoadError(std::string(name), named.what());
        }
      }
      throw PropertyLoadError(std::string(), error.what());
    }
  }

  void startFromDefaults() override { upload_.InitProperties(); }

  void set(std::string_view property, const std::string& utf8) override {
    try {
      dispatch::letProperty(upload_, property, host::Variant(utf8));
    } catch (const Error& error) {
      throw SettingError(error.what());
    }
  }

  long number(std::string_view property) override {
    return dispatch::getProperty(upload_, property).toInt32();
  }

  void save(FilePropertyBag& bag) override {
    try {
      upload_.WriteProperties(bag);
    } catch (const Error& error) {
      throw SettingError(error.what());
    }
  }

 private:
  Upload& upload_;
};

// The C library's environment is in the ANSI code page on Windows; the
// password is taken as the UTF-16 the system keeps, in UTF-8.
std::optional<std::string> environmentVariable(const char* name) {
#ifdef _WIN32
  const std::wstring wideName(name, name + std::char_traits<char>::length(name));
  const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring wide(size, L'\0');
  wide.resize(::GetEnvironmentVariableW(wideName.c_str(), wide.data(), size));
  return winapi::narrow(wide);
#else
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
#endif
}

bool setOnCommandLine(const Options& options, std::string_view property) {
  return std::any_of(options.settings.begin(), options.settings.end(),
                     [&](const auto& setting) { return equalsIgnoringCase(setting.first, property); });
}

}  // namespace

const char* const DefaultPasswordWarning =
    "no FTP password is set (KIV_FTP_PASSWORD, --password-file or the property file): "
    "the control's built-in default password is used";

AppliedSettings applySettings(SettingsTarget& control, const Options& options) {
  AppliedSettings applied;
  FilePropertyBag bag;
  std::optional<std::filesystem::path> file;
  std::error_code missing;
  if (options.propertiesFile && std::filesystem::exists(*options.propertiesFile, missing)) {
    file = *options.propertiesFile;
    try {
      bag = FilePropertyBag::load(*file);
    } catch (const Error& error) {
      throw SettingError(error.what());
    }
    try {
      control.load(bag);
    } catch (const PropertyLoadError& error) {
      throw SettingError(fileOrigin(*file, bag.lineOf(error.property)) + error.what());
    }
  } else {
    control.startFromDefaults();
  }

  const std::optional<std::string> environmentPassword = environmentVariable("KIV_FTP_PASSWORD");
  if (environmentPassword) control.set("KIVPassword", *environmentPassword);
  for (const auto& [name, value] : options.settings) {
    if (equalsIgnoringCase(name, "KIVPassword")) {
      applied.warnings.emplace_back(
          "a password on the command line can be seen by other users; prefer KIV_FTP_PASSWORD or --password-file");
    }
    try {
      control.set(name, value);
    } catch (const SettingError& error) {
      throw SettingError(std::string("command line: ") + error.what());
    }
  }
  if (options.passwordFile) control.set("KIVPassword", readPasswordFile(*options.passwordFile));

  // A size below one pixel would send the photos unreduced, at full size.
  for (const char* property : {"IMAGEWIDTH", "IMAGEHEIGHT"}) {
    const long value = control.number(property);
    if (value >= 1) continue;
    const std::string origin = setOnCommandLine(options, property) ? std::string("command line: ")
                               : file ? fileOrigin(*file, bag.lineOf(property))
                                      : std::string();
    throw SettingError(origin + property + ": a photo size must be 1 pixel or more (got " +
                       std::to_string(value) + ")");
  }

  applied.defaultPassword = !environmentPassword && !options.passwordFile && !bag.contains("KIVPassword") &&
                            !setOnCommandLine(options, "KIVPassword");
  applied.folderGiven = bag.contains("FullPath") || setOnCommandLine(options, "FullPath");
  for (const auto& [option, property] : {std::pair{"--vehicle", "VehicleID"}, std::pair{"--company", "CompanyID"},
                                         std::pair{"--web", "KIVWEB"}, std::pair{"--ftp", "KIVFTP"}}) {
    if (!bag.contains(property) && !setOnCommandLine(options, property))
      applied.missing.push_back(std::string(option) + " (" + property + ")");
  }
  return applied;
}

std::string missingSettingsText(const AppliedSettings& applied) {
  if (applied.missing.empty()) return {};
  std::string list;
  for (std::size_t i = 0; i < applied.missing.size(); ++i) {
    if (i > 0) list += i + 1 == applied.missing.size() ? " and " : ", ";
    list += applied.missing[i];
  }
  return "nothing is sent until " + list + (applied.missing.size() == 1 ? " is" : " are") +
         " given, on the command line or in the property file (--properties)";
}

AppliedSettings applySettings(Upload& upload, const Options& options) {
  UploadTarget control(upload);
  return applySettings(control, options);
}

void saveProperties(SettingsTarget& control, const std::filesystem::path& file) {
  FilePropertyBag bag;
  try {
    std::error_code missing;
    if (std::filesystem::exists(file, missing)) bag = FilePropertyBag::load(file);
    try {
      control.save(bag);
    } catch (const SettingError& error) {
      throw SettingError(utf8Of(file) + ": " + error.what());
    }
    // The default place is a folder of its own that may not exist yet.
    if (file.has_parent_path()) fs::CreateFolders(utf8Of(file.parent_path()));
    bag.save(file);
  } catch (const Error& error) {
    throw SettingError(error.what());
  }
}

void saveProperties(Upload& upload, const std::filesystem::path& file) {
  UploadTarget control(upload);
  saveProperties(control, file);
}

}  // namespace kiv::app
