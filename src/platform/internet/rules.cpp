#include "rules.hpp"

#include <cctype>

#include <algorithm>
#include <mutex>
#include <set>
#include <utility>

namespace kiv::net {
namespace {

std::mutex timeoutsMutex;
Timeouts timeouts;

std::mutex modesMutex;
std::set<std::string> passiveServers;
NoticeHandler noticeHandler;

}  // namespace

void setNoticeHandler(NoticeHandler handler) {
  std::lock_guard lock(modesMutex);
  noticeHandler = std::move(handler);
}

void forgetFtpModesForTesting() {
  std::lock_guard lock(modesMutex);
  passiveServers.clear();
}

void setTimeoutsForTesting(const Timeouts& replacement) {
  Timeouts checked = replacement;
  checked.connect = std::max(checked.connect, std::chrono::seconds(1));
  checked.idle = std::max(checked.idle, std::chrono::seconds(1));
  checked.webDeadline = std::max(checked.webDeadline, std::chrono::seconds(1));
  checked.leastPutBytesPerSecond = std::max<std::size_t>(checked.leastPutBytesPerSecond, 1);
  std::lock_guard lock(timeoutsMutex);
  timeouts = checked;
}

Request::Request(long status, std::string body) : status_(status), body_(std::move(body)) {}

std::size_t Request::read(char* buffer, std::size_t size) {
  const std::size_t count = std::min(size, body_.size() - position_);
  std::copy_n(body_.data() + position_, count, buffer);
  position_ += count;
  return count;
}

namespace detail {

Timeouts currentTimeouts() {
  std::lock_guard lock(timeoutsMutex);
  return timeouts;
}

bool passiveNeeded(const std::string& server) {
  std::lock_guard lock(modesMutex);
  return passiveServers.count(server) != 0;
}

void switchToPassive(const std::string& server, const std::string& reason) {
  NoticeHandler tell;
  {
    std::lock_guard lock(modesMutex);
    if (!passiveServers.insert(server).second) return;
    tell = noticeHandler;
  }
  // Outside the lock: the handler may take its time, or ask about modes.
  if (tell) {
    try {
      tell(reason);
    } catch (...) {
      // A host that cannot show a notice must not lose the photo over it.
    }
  }
}

bool isControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

bool safeInCommand(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return c != '\t' && isControl(c); });
}

namespace {

std::string describeReply(const FtpTrouble& trouble) {
  std::string reply = trouble.reply;
  while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n' || reply.back() == ' ')) reply.pop_back();
  if (!trouble.password.empty() && reply.find(trouble.password) != std::string::npos) reply = "(a reply that repeated the password)";
  if (trouble.refused) return "the FTP server refused the login for " + trouble.user;
  if (trouble.neverLoggedIn && reply.empty()) return "could not reach the FTP server " + trouble.server;
  if (trouble.neverLoggedIn) return "the FTP server " + trouble.server + " did not let " + trouble.user + " in: " + reply;
  if (reply.empty()) return "the FTP server " + trouble.server + " did not confirm the photo";
  return "the FTP server answered \"" + reply + "\"";
}

}  // namespace

std::string describe(const FtpTrouble& trouble) {
  const std::string left =
      trouble.leftOnServer.empty() ? std::string() : "; " + trouble.leftOnServer + " is left on the server";
  return describeReply(trouble) + left;
}

std::string refusingReply(const std::vector<std::string>& lines) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->size() >= 3 && (*line)[0] >= '4' && (*line)[0] <= '5' && std::isdigit(static_cast<unsigned char>((*line)[1])) &&
        std::isdigit(static_cast<unsigned char>((*line)[2])))
      return *line;
  }
  return {};
}

std::chrono::seconds putConfirmationWait(const Timeouts& limits, std::uint64_t bytes) {
  return limits.idle + std::chrono::seconds(bytes / limits.leastPutBytesPerSecond + 1);
}

std::optional<std::uint64_t> sizeInReply(std::string_view line) {
  if (line.size() < 5 || line.substr(0, 4) != "213 ") return std::nullopt;
  line.remove_prefix(4);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
  if (line.empty() || line.size() > 19 || line.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::uint64_t size = 0;
  for (const char digit : line) size = size * 10 + static_cast<std::uint64_t>(digit - '0');
  return size;
}

bool isPlainHost(std::string_view host) {
  if (host.empty()) return false;
  return std::none_of(host.begin(), host.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7f || c == '/' || c == '\\' || c == '@' || c == '?' || c == '#' || c == '%';
  });
}

}  // namespace detail

bool staysInFolder(std::string_view remoteName) {
  if (!detail::safeInCommand(remoteName)) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t separator = remoteName.find_first_of("/\\", start);
    const std::string_view segment =
        remoteName.substr(start, separator == std::string_view::npos ? separator : separator - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    if (separator == std::string_view::npos) return true;
    start = separator + 1;
  }
}

}  // namespace kiv::net
