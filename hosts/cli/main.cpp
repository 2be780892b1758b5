// kivphoto: runs the photo-upload control without a window.
#include "options.hpp"
#include "process_guard.hpp"
#include "terminal_site.hpp"

#include <control/dispatch.hpp>
#include <control/upload.hpp>
#include <platform/host/text.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace kiv::cli {
namespace {

constexpr int kAllSent = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kRunError = 3;

// A setting that cannot be applied: a bad value, an unreadable file.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using text::equalsIgnoringCase;
using text::upper;

std::string readPasswordFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ConfigError("cannot read the password file " + file.string());
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void applySettings(Upload& upload, const Options& options) {
  if (options.propertiesFile && std::filesystem::exists(*options.propertiesFile)) {
    host::FilePropertyBag bag = host::FilePropertyBag::load(*options.propertiesFile);
    try {
      upload.ReadProperties(bag);
    } catch (const Error& error) {
      const std::string origin = "property file " + options.propertiesFile->string() + ": ";
      // The bag's conversion errors do not say which property; assigning the
      // stored values one by one finds it.
      for (std::string_view name : dispatch::persistedPropertyNames()) {
        if (!bag.contains(name)) continue;
        try {
          dispatch::letProperty(upload, name, bag.ReadProperty(name, host::Variant()));
        } catch (const Error& named) {
          throw ConfigError(origin + named.what());
        }
      }
      throw ConfigError(origin + error.what());
    }
  } else {
    upload.InitProperties();
  }

  if (const char* password = std::getenv("KIV_FTP_PASSWORD")) {
    dispatch::letProperty(upload, "KIVPassword", host::Variant(std::string(password)));
  }
  for (const auto& [name, value] : options.settings) {
    if (equalsIgnoringCase(name, "KIVPassword")) {
      std::cerr << "kivphoto: warning: a password on the command line can be seen by other users; "
                   "prefer KIV_FTP_PASSWORD or --password-file\n";
    }
    dispatch::letProperty(upload, name, host::Variant(value));
  }
  if (options.passwordFile) {
    dispatch::letProperty(upload, "KIVPassword", host::Variant(readPasswordFile(*options.passwordFile)));
  }
}

void save(Upload& upload, const std::filesystem::path& file) {
  host::FilePropertyBag bag;
  if (std::filesystem::exists(file)) bag = host::FilePropertyBag::load(file);
  upload.WriteProperties(bag);
  bag.save(file);
}

std::vector<std::string> waitingPhotos(const Upload& upload) {
  const host::Variant::Array& files = upload.sFiles.array();
  if (files.empty() || files[0].empty()) return {};
  return files;
}

std::string shownName(const std::string& file, const std::string& folder) {
  const std::filesystem::path relative = std::filesystem::path(file).lexically_relative(folder);
  if (relative.empty() || relative.native().rfind("..", 0) == 0) return file;
  return relative.string();
}

int reportOutcome(const TerminalSite& site, const std::vector<std::string>& asked, const std::string& folder) {
  std::vector<std::string> left;
  for (const std::string& file : asked) {
    if (std::filesystem::exists(file)) left.push_back(file);
  }
  if (left.empty() && site.messageBoxes() == 0) return kAllSent;
  if (!left.empty()) {
    std::cerr << "kivphoto: " << left.size() << " of " << asked.size()
              << " photos were not sent and are still in the folder:\n";
    for (const std::string& file : left) std::cerr << "  " << shownName(file, folder) << '\n';
  } else {
    std::cerr << "kivphoto: the control reported a failure\n";
  }
  return kSomeFailed;
}

int run(const Options& options) {
  TerminalSite site(std::cout, std::cerr, isatty(STDOUT_FILENO) != 0, options.quiet);
  Upload upload(site);
  site.watch(upload);

  try {
    upload.Initialize();
  } catch (const Error& error) {
    std::cerr << "kivphoto: error " << error.number() << ": " << error.what() << '\n';
    return kRunError;
  }

  try {
    applySettings(upload, options);
    if (options.save) save(upload, *options.propertiesFile);
  } catch (const Error& error) {
    std::cerr << "kivphoto: " << error.what() << '\n';
    return kUsage;
  } catch (const ConfigError& error) {
    std::cerr << "kivphoto: " << error.what() << '\n';
    return kUsage;
  }

  const bool express = upper(upload.KIVType()) == "EXPRESSPHOTOS";
  if (express && options.action != Action::None) {
    std::cerr << "kivphoto: the capture mode is EXPRESSPHOTOS, where showing the control sends every "
                 "photo at once; give no action, or --mode DIGITAL to list or choose photos\n";
    return kUsage;
  }
  if (!express && options.action == Action::None) {
    if (options.save) return kAllSent;
    std::cerr << "kivphoto: no action given: use list, upload-all or upload N,M,...\n"
                 "Try 'kivphoto --help'.\n";
    return kUsage;
  }

  // The control reports a missing folder as an empty one; for a script that is
  // a mistyped setting, not a job done.
  const std::string folder = upload.FullPath();
  if (!std::filesystem::is_directory(folder)) {
    std::cerr << "kivphoto: FullPath: the photo folder " << folder << " does not exist\n";
    return kUsage;
  }
  try {
    upload.Show();
    site.Refresh();
    std::vector<std::string> photos = waitingPhotos(upload);

    if (express) {
      site.finishLine();
      return reportOutcome(site, photos, folder);
    }
    if (options.action == Action::List) {
      site.finishLine();
      for (std::size_t i = 0; i < photos.size(); ++i) {
        std::cout << (i + 1) << '\t' << shownName(photos[i], folder) << '\n';
      }
      return kAllSent;
    }
    if (options.action == Action::UploadAll) {
      upload.imgUploadAll_Click();
      site.Refresh();
      site.finishLine();
      return reportOutcome(site, photos, folder);
    }

    std::vector<std::string> asked;
    for (int number : options.selection) {
      if (static_cast<std::size_t>(number) > photos.size()) {
        site.finishLine();
        std::cerr << "kivphoto: there is no photo " << number << ": " << photos.size()
                  << " photos are waiting (see 'kivphoto list')\n";
        return kUsage;
      }
      asked.push_back(photos[static_cast<std::size_t>(number - 1)]);
    }
    for (std::size_t i = 0; i < photos.size(); ++i) upload.chkSelect[static_cast<std::int16_t>(i)].Value = 0;
    for (int number : options.selection) upload.chkSelect[static_cast<std::int16_t>(number - 1)].Value = 1;
    upload.imgSelectedPhotos_Click();
    site.Refresh();
    site.finishLine();
    return reportOutcome(site, asked, folder);
  } catch (const Error& error) {
    site.finishLine();
    std::cerr << "kivphoto: error " << error.number() << ": " << error.what() << '\n';
    return kRunError;
  } catch (const std::exception& error) {
    site.finishLine();
    std::cerr << "kivphoto: error: " << error.what() << '\n';
    return kRunError;
  }
}

}  // namespace
}  // namespace kiv::cli

int main(int argc, char** argv) {
  kiv::hosts::keepSecretsOutOfCoreFiles();
  using namespace kiv::cli;
  Options options;
  try {
    options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    std::cerr << "kivphoto: " << error.what() << "\nTry 'kivphoto --help'.\n";
    return kUsage;
  }
  if (options.help) {
    std::cout << HelpText;
    return 0;
  }
  if (options.version) {
    std::cout << "kivphoto " << KIV_VERSION << '\n';
    return 0;
  }
  return run(options);
}
