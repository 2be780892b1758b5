#include "run_record.hpp"

#include "utf8_path.hpp"

#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

#include <chrono>
#include <cstdlib>
#include <ctime>

namespace kiv::app {
namespace {

std::string nameOf(const std::string& path) { return utf8Of(pathFromUtf8(path).filename()); }

std::string now() {
  const std::time_t clock = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &clock);
#else
  localtime_r(&clock, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

std::vector<std::string> RunRecord::notSent() const {
  std::vector<std::string> left;
  for (const std::string& file : asked) {
    if (sent.count(file) == 0) left.push_back(file);
  }
  return left;
}

std::string RunRecord::summary() const {
  const std::set<std::string> askedSet(asked.begin(), asked.end());
  std::size_t still = 0, notAsked = 0;
  for (const std::string& file : listed) {
    if (sent.count(file) != 0) continue;
    ++still;
    if (askedSet.count(file) == 0) ++notAsked;
  }
  std::string line = "Sent " + std::to_string(asked.size() - notSent().size()) + " of " +
                     std::to_string(asked.size()) + " photos";
  if (unreduced > 0) line += " (" + std::to_string(unreduced) + " at full size)";
  line += "; " + std::to_string(still) + (still == 1 ? " is" : " are") + " still in the folder";
  if (notAsked > 0) line += " (" + std::to_string(notAsked) + " not asked for)";
  return line + ".";
}

std::string withoutCredentials(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const std::size_t authority = scheme + 3;
  const std::size_t end = url.find_first_of("/?#", authority);
  const std::size_t at = url.rfind('@', end == std::string::npos ? url.size() : end);
  if (at == std::string::npos || at < authority) return url;
  return url.substr(0, authority) + url.substr(at + 1);
}

std::optional<std::filesystem::path> lastRunLogPath() {
#ifdef _WIN32
  const wchar_t* base = _wgetenv(L"LOCALAPPDATA");
  if (base == nullptr || *base == L'\0') return std::nullopt;
  return std::filesystem::path(base) / "kivPhotoUpload" / "last-run.log";
#else
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state == '/') return std::filesystem::path(state) / "kivPhotoUpload" / "last-run.log";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home != '/') return std::nullopt;
  return std::filesystem::path(home) / ".local" / "state" / "kivPhotoUpload" / "last-run.log";
#endif
}

std::optional<std::string> writeLastRunLog(const RunRecord& run, const std::string& program,
                                           const std::vector<std::string>& job) {
  const std::optional<std::filesystem::path> log = lastRunLogPath();
  if (!log) return "no place for the last run's log (no home or state folder is set)";
  std::string text = now() + " " + program + "\n";
  for (const std::string& line : job) text += line + "\n";
  text += run.summary() + "\n";
  if (run.stopped) text += "The upload was stopped on request.\n";
  for (const std::string& file : run.notSent()) {
    const auto reason = run.reasons.find(file);
    text += "Not sent: " + nameOf(file) + (reason != run.reasons.end() ? " (" + reason->second + ")" : "") + "\n";
  }
  for (const std::string& message : run.messages) text += "The control said: " + message + "\n";
  try {
    fs::CreateFolders(utf8Of(log->parent_path()));
    fs::ReplaceFileAtomically(utf8Of(*log), text, 0600);
  } catch (const Error& error) {
    return std::string("cannot keep the last run's log: ") + error.what();
  }
  return std::nullopt;
}

}  // namespace kiv::app
