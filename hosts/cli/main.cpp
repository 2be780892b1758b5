// kivphoto: runs the photo-upload control without a window.
#include "options.hpp"
#include "process_guard.hpp"
#include "settings.hpp"
#include "terminal_site.hpp"

#include <control/upload.hpp>
#include <platform/host/text.hpp>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace kiv::cli {
namespace {

using hosts::Action;
using hosts::Options;

constexpr int kAllSent = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kRunError = 3;

volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int) {
  stopSignal = 1;
  constexpr char kNote[] =
      "\nkivphoto: stopping after the photo being sent (press Ctrl-C again to quit at once)\n";
  [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

// The first Ctrl-C or termination request lets the photo in flight finish;
// the handler then goes, so a second one ends the program at once.
void stopOnSignals() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::vector<std::string> waitingPhotos(const Upload& upload) {
  const host::Variant::Array& files = upload.sFiles.array();
  if (files.empty() || files[0].empty()) return {};
  return files;
}

// One line on standard output says how the run went; the photos left behind
// are named on standard error.
int reportOutcome(const TerminalSite& site, const std::vector<std::string>& asked, const std::string& folder,
                  bool quiet) {
  std::vector<std::string> left;
  for (const std::string& file : asked) {
    if (std::filesystem::exists(file)) left.push_back(file);
  }
  if (!quiet) {
    std::cout << "Sent " << asked.size() - left.size() << " of " << asked.size() << " photos";
    if (!site.unreduced().empty()) std::cout << " (" << site.unreduced().size() << " at full size)";
    std::cout << "; " << left.size() << (left.size() == 1 ? " is" : " are") << " still in the folder.\n"
              << std::flush;
  }
  if (site.stopped()) std::cerr << "kivphoto: the upload was stopped on request\n";
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
  site.stopWhen(stopSignal);

  try {
    upload.Initialize();
  } catch (const Error& error) {
    std::cerr << "kivphoto: error " << error.number() << ": " << error.what() << '\n';
    return kRunError;
  }

  hosts::AppliedSettings applied;
  try {
    applied = hosts::applySettings(upload, options);
    if (options.save) hosts::saveProperties(upload, *options.propertiesFile);
  } catch (const Error& error) {
    std::cerr << "kivphoto: " << error.what() << '\n';
    return kUsage;
  } catch (const hosts::SettingError& error) {
    std::cerr << "kivphoto: " << error.what() << '\n';
    return kUsage;
  }
  for (const std::string& warning : applied.warnings) std::cerr << "kivphoto: warning: " << warning << '\n';
  if (options.save && options.action == Action::None) return kAllSent;

  const bool express = text::upper(upload.KIVType()) == "EXPRESSPHOTOS";
  if (express && options.action != Action::None) {
    std::cerr << "kivphoto: the capture mode is EXPRESSPHOTOS, where showing the control sends every "
                 "photo at once; give no action, or --mode DIGITAL to list or choose photos\n";
    return kUsage;
  }
  if (!express && options.action == Action::None) {
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
  if (options.action != Action::List) {
    if (applied.defaultPassword) std::cerr << "kivphoto: warning: " << hosts::DefaultPasswordWarning << '\n';
    stopOnSignals();
  }
  try {
    upload.Show();
    site.Refresh();
    std::vector<std::string> photos = waitingPhotos(upload);

    if (express) {
      site.finishLine();
      return reportOutcome(site, photos, folder, options.quiet);
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
      return reportOutcome(site, photos, folder, options.quiet);
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
    return reportOutcome(site, asked, folder, options.quiet);
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
  using namespace kiv::hosts;
  Options options;
  try {
    options = parseOptions(Program::Terminal, std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    std::cerr << "kivphoto: " << error.what() << "\nTry 'kivphoto --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << helpText(Program::Terminal);
    return 0;
  }
  if (options.version) {
    std::cout << "kivphoto " << KIV_VERSION << '\n';
    return 0;
  }
  return kiv::cli::run(options);
}
