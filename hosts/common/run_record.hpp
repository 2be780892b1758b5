#pragma once

// What one upload run asked for and what became of each photo, told the same
// way by every host: one summary line, the photos asked for and not sent with
// the control's reason, and the last run's log that a dealer can read out on
// a support call after the window has closed.

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kiv::app {

struct RunRecord {
  std::vector<std::string> asked;
  // Every photo the gallery listed, asked for or not.
  std::vector<std::string> listed;
  std::set<std::string> sent;
  // Why a photo stayed, by path, where the control said.
  std::map<std::string, std::string> reasons;
  std::size_t unreduced = 0;
  // What the control's message boxes said during the run.
  std::vector<std::string> messages;
  bool stopped = false;

  std::vector<std::string> notSent() const;
  // "Sent 2 of 2 photos; 4 are still in the folder (4 not asked for)."
  std::string summary() const;
};

// The URL without a user name or password in it ("http://u:p@host" gives
// "http://host"), for what is shown or kept.
std::string withoutCredentials(const std::string& url);

// $XDG_STATE_HOME/kivPhotoUpload/last-run.log (~/.local/state when unset),
// %LOCALAPPDATA%\kivPhotoUpload\last-run.log on Windows; nothing when neither
// the variable nor a home folder is known.
std::optional<std::filesystem::path> lastRunLogPath();

// Replaces the log with this run: when, which program, the job (vehicle,
// folder, servers: never a password), the summary, the photos not sent with
// their reasons and the control's messages. A log that cannot be written is
// said in the returned text, never thrown: the record must not turn a finished
// run into a failed one.
std::optional<std::string> writeLastRunLog(const RunRecord& run, const std::string& program,
                                           const std::vector<std::string>& job);

}  // namespace kiv::app
