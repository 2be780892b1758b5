// kivphoto: runs the photo-upload control without a window.
#include "options.hpp"
#include "process_guard.hpp"
#include "run_record.hpp"
#include "settings.hpp"
#include "terminal_site.hpp"
#include "utf8_path.hpp"

#include <control/upload.hpp>
#include <platform/host/text.hpp>
#include <platform/internet/internet.hpp>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <platform/windows/utf16.hpp>

#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace kiv::cli {
namespace {

using app::Action;
using app::Options;

constexpr int kAllSent = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kRunError = 3;

std::atomic<bool> stopSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

constexpr char kStopNote[] =
    "\nkivphoto: stopping after the photo being sent (press Ctrl-C again to quit at once)\n";

#ifdef _WIN32

// Ctrl-C, Ctrl-Break and closing the console window ask for a stop; a second
// request is left to the default handler, which ends the program at once.
BOOL WINAPI requestStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (stopSignal.exchange(true)) return FALSE;
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kStopNote, sizeof kStopNote - 1, &written, nullptr);
  // Windows ends the process as soon as a close event's handler returns;
  // holding on lets the photo in flight finish (within the system's grace
  // period), and the program's own exit ends this wait.
  if (event == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
  return TRUE;
}

void stopOnSignals() { ::SetConsoleCtrlHandler(requestStop, TRUE); }

// The console belongs to the caller too: its code pages and mode go back as
// they were when kivphoto ends.
class Console {
 public:
  Console()
      : out_(::GetStdHandle(STD_OUTPUT_HANDLE)),
        outputCodePage_(::GetConsoleOutputCP()),
        inputCodePage_(::GetConsoleCP()) {
    if (outputCodePage_ != 0) ::SetConsoleOutputCP(CP_UTF8);
    if (inputCodePage_ != 0) ::SetConsoleCP(CP_UTF8);
    // The same bytes as on Linux, whether to a console, a pipe or a file.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    // The progress line is redrawn with an escape sequence, which the console
    // only follows when asked to; without it, one line per status.
    haveMode_ = ::GetConsoleMode(out_, &mode_) != 0;
    terminal_ = haveMode_ && ((mode_ & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                              ::SetConsoleMode(out_, mode_ | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
  }
  ~Console() {
    std::fflush(nullptr);
    if (haveMode_) ::SetConsoleMode(out_, mode_);
    if (outputCodePage_ != 0) ::SetConsoleOutputCP(outputCodePage_);
    if (inputCodePage_ != 0) ::SetConsoleCP(inputCodePage_);
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  bool terminal() const { return terminal_; }

 private:
  HANDLE out_;
  UINT outputCodePage_;
  UINT inputCodePage_;
  DWORD mode_ = 0;
  bool haveMode_ = false;
  bool terminal_ = false;
};

// The ANSI argv loses whatever the code page cannot spell; the UTF-16 command
// line keeps every path.
std::vector<std::string> arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> words;
  for (int i = 1; i < count; ++i) words.push_back(winapi::narrow(wide[i]));
  ::LocalFree(wide);
  return words;
}

#else

void requestStop(int) {
  stopSignal = true;
  [[maybe_unused]] const auto written = ::write(STDERR_FILENO, kStopNote, sizeof kStopNote - 1);
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

class Console {
 public:
  bool terminal() const { return ::isatty(STDOUT_FILENO) != 0; }
};

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

#endif

std::vector<std::string> waitingPhotos(const Upload& upload) {
  const host::Variant::Array& files = upload.sFiles.array();
  if (files.empty() || files[0].empty()) return {};
  return files;
}

// One line on standard output says how the run went, from what the control
// reported sent: the photos asked for, and every listed photo still in the
// folder. The photos asked for and not sent are named on standard error.
int reportOutcome(const TerminalSite& site, const std::vector<std::string>& asked,
                  const std::vector<std::string>& listed, const std::string& folder, bool quiet) {
  app::RunRecord run;
  run.asked = asked;
  run.listed = listed;
  run.sent = site.sent();
  run.reasons = site.kept();
  run.unreduced = site.unreduced().size();
  if (!quiet) std::cout << run.summary() << '\n' << std::flush;
  if (site.stopped()) std::cerr << "kivphoto: the upload was stopped on request\n";
  const std::vector<std::string> left = run.notSent();
  if (left.empty() && site.messageBoxes() == 0) return kAllSent;
  if (!left.empty()) {
    std::cerr << "kivphoto: " << left.size() << " of " << asked.size()
              << " photos were not sent and are still in the folder:\n";
    for (const std::string& file : left) {
      const auto kept = run.reasons.find(file);
      std::cerr << "  " << shownName(file, folder);
      if (kept != run.reasons.end()) std::cerr << " (" << kept->second << ')';
      std::cerr << '\n';
    }
  } else {
    std::cerr << "kivphoto: the control reported a failure\n";
  }
  return kSomeFailed;
}

// Sets the control up and checks that the action can run: the exit status
// when the run ends here.
std::optional<int> prepare(Upload& upload, const Options& options) {
  try {
    upload.Initialize();
  } catch (const Error& error) {
    std::cerr << "kivphoto: error " << error.number() << ": " << error.what() << '\n';
    return kRunError;
  }

  app::AppliedSettings applied;
  try {
    applied = app::applySettings(upload, options);
    if (options.save) app::saveProperties(upload, *options.propertiesFile);
  } catch (const Error& error) {
    std::cerr << "kivphoto: " << error.what() << '\n';
    return kUsage;
  } catch (const app::SettingError& error) {
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
  if (!std::filesystem::is_directory(app::pathFromUtf8(folder))) {
    std::cerr << "kivphoto: FullPath: the photo folder " << folder << " does not exist\n";
    return kUsage;
  }
  if (options.action != Action::List && !applied.missing.empty()) {
    std::cerr << "kivphoto: " << app::missingSettingsText(applied) << '\n';
    return kUsage;
  }
  if (options.action != Action::List) {
    if (applied.defaultPassword) std::cerr << "kivphoto: warning: " << app::DefaultPasswordWarning << '\n';
    stopOnSignals();
  }
  return std::nullopt;
}

int uploadChosen(Upload& upload, TerminalSite& site, const Options& options, const std::vector<std::string>& photos,
                 const std::string& folder) {
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
  return reportOutcome(site, asked, photos, folder, options.quiet);
}

int perform(Upload& upload, TerminalSite& site, const Options& options) {
  const std::string folder = upload.FullPath();
  upload.Show();
  site.Refresh();
  std::vector<std::string> photos = waitingPhotos(upload);

  if (text::upper(upload.KIVType()) == "EXPRESSPHOTOS") {
    site.finishLine();
    return reportOutcome(site, photos, photos, folder, options.quiet);
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
    return reportOutcome(site, photos, photos, folder, options.quiet);
  }
  return uploadChosen(upload, site, options, photos, folder);
}

int run(const Options& options, const Console& console) {
  TerminalSite site(std::cout, std::cerr, console.terminal(), options.quiet);
  Upload upload(site);
  site.watch(upload);
  site.stopWhen(stopSignal);
  if (const std::optional<int> ended = prepare(upload, options)) return *ended;

  net::setNoticeHandler([&site](const std::string& notice) { site.notice(notice); });
  struct StopNotices {
    ~StopNotices() { net::setNoticeHandler({}); }
  } stopNotices;
  try {
    return perform(upload, site, options);
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
  kiv::app::keepSecretsOutOfCoreFiles();
  using namespace kiv::app;
  const kiv::cli::Console console;
  Options options;
  try {
    options = parseOptions(Program::Terminal, kiv::cli::arguments(argc, argv));
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
  return kiv::cli::run(options, console);
}
