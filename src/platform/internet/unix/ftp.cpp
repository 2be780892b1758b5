#include <platform/internet/internet.hpp>

#include "curl.hpp"

#include <curl/curl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <utility>
#include <vector>
namespace kiv::net {
namespace {

using namespace detail;
using Clock = std::chrono::steady_clock;

size_t readFile(char* buffer, size_t size, size_t count, void* userdata) {
  auto* file = static_cast<std::FILE*>(userdata);
  const size_t got = std::fread(buffer, size, count, file);
  if (got == 0 && std::ferror(file)) return CURL_READFUNC_ABORT;
  return got;
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

size_t collectResponse(char* data, size_t size, size_t count, void* userdata) {
  auto* lines = static_cast<std::vector<std::string>*>(userdata);
  try {
    lines->emplace_back(data, size * count);
  } catch (...) {
    return 0;
  }
  return size * count;
}


// Escapes each segment of a remote path for the URL; curl turns it back into
// the exact name for the FTP commands.
std::string escapePath(CURL* easy, std::string_view path) {
  std::string escaped;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view segment = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
    char* piece = curl_easy_escape(easy, segment.data(), static_cast<int>(segment.size()));
    if (piece == nullptr) return {};
    escaped += piece;
    curl_free(piece);
    if (slash == std::string_view::npos) return escaped;
    escaped += '/';
    start = slash + 1;
  }
}

// The verb of the last command curl sent ("EPRT"); nothing else of the line
// is kept, since one of them carries the password.
int noteCommand(CURL*, curl_infotype type, char* data, size_t size, void* userdata) {
  if (type != CURLINFO_HEADER_OUT) return 0;
  auto* verb = static_cast<std::string*>(userdata);
  const std::string_view line(data, size);
  try {
    verb->assign(line.substr(0, line.find_first_of(" \r\n")));
  } catch (...) {
    verb->clear();
  }
  return 0;
}

// Holds a put to the idle time-out until its last byte is handed over. The
// wait for the server's confirmation after that is bounded by the response
// time-out the put sets.
struct PutProgress {
  curl_off_t size = 0;
  std::chrono::seconds idle{};
  Clock::time_point lastMove = Clock::now();
  curl_off_t lastSent = 0;
  const std::vector<std::string>* replies = nullptr;
  const std::string* lastCommand = nullptr;
  bool stuckAfterEprt = false;
};

int watchPut(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto* progress = static_cast<PutProgress*>(data);
  // Over IPv6 curl has no PORT to fall back on after a refused EPRT and waits
  // for a reply to a command it never sent; over IPv4 it has sent PORT by now.
  if (*progress->lastCommand == "EPRT" && !progress->replies->empty() &&
      progress->replies->back().rfind('5', 0) == 0) {
    progress->stuckAfterEprt = true;
    return 1;
  }
  const auto now = Clock::now();
  if (sent != progress->lastSent) {
    progress->lastSent = sent;
    progress->lastMove = now;
  }
  return sent < progress->size && now - progress->lastMove > progress->idle ? 1 : 0;
}

// The code of a reply's last line ("226 Transfer complete"), or 0 for a
// line that is no last line of a reply. A bare "213", which curl does not
// take for one and would wait on, counts too.
long finalReplyCode(const std::string& line) {
  const auto digit = [&](std::size_t i) { return line[i] >= '0' && line[i] <= '9'; };
  if (line.size() < 3 || !digit(0) || !digit(1) || !digit(2)) return 0;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '\r' && line[3] != '\n') return 0;
  return std::strtol(line.substr(0, 3).c_str(), nullptr, 10);
}

bool isBareReply(const std::string& line) {
  return finalReplyCode(line) != 0 && line.find_first_not_of("0123456789\r\n") == std::string::npos;
}

// A name for parking a put whose real name a URL cannot carry.
std::string parkingName() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  char name[48];
  std::snprintf(name, sizeof name, ".kivphoto-%08x%04x.part", random(), counter++ & 0xffffu);
  return name;
}

}  // namespace

struct FtpConnection::Impl {
  MultiHandle multi;  // holds the kept connection
  EasyHandle easy;
  std::string baseUrl;  // "ftp://host[:port]/"
  std::vector<std::string> replies;  // the server's reply lines during the last perform
  bool usable = false;               // host and account are safe to send
  bool loggedIn = false;             // a login on this connection has succeeded
  bool gaveUp = false;               // the first connection or login failed
  bool refused = false;              // the login was answered with 530
  std::string folder;                // the folder puts go into, once entered: "/12"
  bool connected = false;            // the last perform opened a new connection
  std::string server;                // "host[:port]", what its data mode is remembered by
  bool passive = false;              // data connections go to the server
  CURLcode lastResult = CURLE_OK;
  std::string lastCommand;           // the verb of the last command sent
  bool stuckAfterEprt = false;       // the last put was stopped after a refused EPRT
  std::string user, password;        // for the words of a failure, never sent in them
  std::string troubleReply;          // the refusing reply of the last failed perform
  std::string leftOnServer;          // a parked file of the last put that could not be removed

  // The name of a file in the folder entered, relative to the login folder when none was.
  std::string inFolder(const std::string& name) const { return folder.empty() ? name : folder + "/" + name; }

  bool anyReplyStartsWith(std::string_view code) const {
    return std::any_of(replies.begin(), replies.end(),
                       [&](const std::string& line) { return line.rfind(code, 0) == 0; });
  }

  // Performs on the one connection. A failure before any login succeeded is
  // final: the classic client, once its connect failed, made the later calls
  // fail without dialling again.
  bool perform(std::optional<std::chrono::seconds> responseTimeout = std::nullopt, std::FILE* upload = nullptr) {
    replies.clear();
    connected = false;
    if (!usable || gaveUp) return false;
    const Timeouts limits = currentTimeouts();
    applyTimeouts(easy.get(), limits);
    if (responseTimeout) {
      curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(responseTimeout->count()));
    }
    // curl would wait out the time-out on a reply it does not recognise as a
    // last line, although the server has said all it will.
    const auto answeredBare = [this] { return !replies.empty() && isBareReply(replies.back()); };
    CURLcode result = performOn(multi.get(), easy.get(), answeredBare);
    // A kept connection the server has dropped meanwhile answers nothing, or
    // only the 421 it sent as it ended an idle login: the same step goes once
    // more over a new connection and login.
    long connects = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_NUM_CONNECTS, &connects);
    const bool endedByServer = replies.empty() || replies.front().rfind("421", 0) == 0;
    if (result != CURLE_OK && loggedIn && connects == 0 && endedByServer) {
      if (upload) std::rewind(upload);
      replies.clear();
      curl_easy_setopt(easy.get(), CURLOPT_FRESH_CONNECT, 1L);
      result = performOn(multi.get(), easy.get(), answeredBare);
      curl_easy_setopt(easy.get(), CURLOPT_FRESH_CONNECT, 0L);
      curl_easy_getinfo(easy.get(), CURLINFO_NUM_CONNECTS, &connects);
    }
    connected = connects > 0;
    lastResult = result;
    if (anyReplyStartsWith("230")) loggedIn = true;
    if (result == CURLE_LOGIN_DENIED && anyReplyStartsWith("530")) refused = true;
    if (result != CURLE_OK && (!loggedIn || refused)) gaveUp = true;
    if (result != CURLE_OK) troubleReply = refusingReply(replies);
    return result == CURLE_OK;
  }

  // Sends one command on the logged-in session and returns the server's reply
  // code, 0 when none came. The "*" prefix keeps curl from dropping the login
  // when the server says no. The reply stands even when what curl does after
  // it fails (its own CWD, or the server closing).
  long command(const std::string& line) {
    if (!safeInCommand(line)) return 0;
    StringList quote;
    if (!quote.append("*" + line)) return 0;
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, baseUrl.c_str());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_QUOTE, quote.get());
    perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    return replyToQuote();
  }

  // The reply to a quoted command: the first one, or on a new connection the
  // one after the login and curl's PWD. curl may send commands of its own
  // after it (on a kept connection, a CWD back to where the login started),
  // so the last reply is not necessarily ours.
  long replyToQuote() const {
    std::vector<long> codes;
    for (const std::string& line : replies) {
      if (const long code = finalReplyCode(line)) codes.push_back(code);
    }
    std::size_t ours = 0;
    if (connected) {
      const auto login = std::find(codes.begin(), codes.end(), 230L);
      if (login == codes.end()) return 0;
      ours = static_cast<std::size_t>(login - codes.begin()) + 2;
    }
    return ours < codes.size() ? codes[ours] : 0;
  }

  // STOR of an open file under a name the URL can carry: in active mode
  // first, and once more in passive mode when the active data connection
  // could not be made.
  bool store(std::FILE* file, curl_off_t size, const std::string& remoteName) {
    if (!passive) {
      if (storeOnce(file, size, remoteName)) return true;
      const char* reason = activeFailure();
      if (reason == nullptr) return false;
      // After a STOR that waited in vain for its data connection the server
      // may still be waiting for it: that control connection is not reused.
      // (One stopped after EPRT curl closes itself.)
      const bool wedged = reason == detail::kNoConnectBack;
      usePassive();
      detail::switchToPassive(server, reason);
      std::rewind(file);
      if (wedged) curl_easy_setopt(easy.get(), CURLOPT_FRESH_CONNECT, 1L);
      const bool stored = storeOnce(file, size, remoteName);
      if (wedged) curl_easy_setopt(easy.get(), CURLOPT_FRESH_CONNECT, 0L);
      return stored;
    }
    return storeOnce(file, size, remoteName);
  }

  // Why the last put could not make its active data connection, or null when
  // it failed for another reason: the server refused EPRT and PORT, answered
  // 425 (it could not connect), or took the STOR and never connected, which
  // ends in whichever limit comes first: accept, reply or idle time.
  const char* activeFailure() const {
    switch (lastResult) {
      case CURLE_FTP_PORT_FAILED:
      case CURLE_FTP_ACCEPT_FAILED:
        return detail::kActiveRefused;
      case CURLE_UPLOAD_FAILED:
        return anyReplyStartsWith("425") ? detail::kActiveRefused : nullptr;
      case CURLE_ABORTED_BY_CALLBACK:
        if (stuckAfterEprt) return detail::kActiveRefused;
        [[fallthrough]];
      case CURLE_FTP_ACCEPT_TIMEOUT:
      case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t sent = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent);
        const bool storAccepted = anyReplyStartsWith("150") || anyReplyStartsWith("125");
        return storAccepted && sent == 0 ? detail::kNoConnectBack : nullptr;
      }
      default:
        return nullptr;
    }
  }

  void usePassive() {
    passive = true;
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_FTPPORT, nullptr);
    curl_easy_setopt(e, CURLOPT_FTP_USE_EPSV, 1L);
    // A PASV reply may name a private address of the server's own network;
    // the data connection goes to the address the login went to.
    curl_easy_setopt(e, CURLOPT_FTP_SKIP_PASV_IP, 1L);
  }

  bool storeOnce(std::FILE* file, curl_off_t size, const std::string& remoteName) {
    CURL* e = easy.get();
    // A leading "/" in the URL's path would be taken as a separator: an
    // absolute name starts with an escaped one.
    const bool absolute = !remoteName.empty() && remoteName.front() == '/';
    const std::string escaped = escapePath(e, absolute ? std::string_view(remoteName).substr(1) : remoteName);
    if (escaped.empty()) return false;
    const std::string url = baseUrl + (absolute ? "%2F" : "") + escaped;
    const Timeouts limits = currentTimeouts();
    PutProgress progress;
    progress.size = size;
    progress.idle = limits.idle;
    progress.replies = &replies;
    progress.lastCommand = &lastCommand;
    lastCommand.clear();
    const auto confirmWait = detail::putConfirmationWait(limits, static_cast<std::uint64_t>(size));

    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, readFile);
    curl_easy_setopt(e, CURLOPT_READDATA, file);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, size);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, watchPut);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    // A 226 stands even when curl's own steps after it fail.
    const bool stored = perform(confirmWait, file) || anyReplyStartsWith("226");
    stuckAfterEprt = progress.stuckAfterEprt;
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, nullptr);
    curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(e, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    return stored;
  }

  // Whether the server holds exactly size bytes under the name, or nullopt
  // when it cannot say: it does not know SIZE, or answers it with no number.
  std::optional<bool> holds(const std::string& remoteName, curl_off_t size) {
    long code = command("SIZE " + remoteName);
    // Over a new login no transfer has set binary mode yet, and servers
    // refuse SIZE in ASCII mode.
    if (code == 550 && connected && command("TYPE I") == 200) code = command("SIZE " + remoteName);
    if (code == 500 || code == 502 || code == 504) return std::nullopt;
    if (code != 213) return false;
    for (const std::string& line : replies) {
      if (finalReplyCode(line) != 213) continue;
      const std::optional<std::uint64_t> held = sizeInReply(line);
      if (!held) return std::nullopt;
      return *held == static_cast<std::uint64_t>(size);
    }
    return std::nullopt;
  }

  // How the last put ended: its 226 came, or every byte went out and only
  // the word of it is missing (the connection broke), or it failed.
  enum class Put { Answered, Unanswered, Failed };
  Put lastPut(bool answered, curl_off_t size) const {
    if (answered) return Put::Answered;
    return handedOverWhole(size) ? Put::Unanswered : Put::Failed;
  }

  // A put is confirmed by its 226 and, where the server can say, the size it
  // holds. Without the 226 only a server holding every byte confirms it.
  bool confirmed(Put put, const std::string& remoteName, curl_off_t size) {
    if (put == Put::Failed) return false;
    const std::optional<bool> held = holds(remoteName, size);
    return held ? *held : put == Put::Answered;
  }

  bool handedOverWhole(curl_off_t size) const {
    curl_off_t sent = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent);
    const std::string refusal = refusingReply(replies);
    const bool storAccepted = anyReplyStartsWith("150") || anyReplyStartsWith("125");
    return storAccepted && sent == size && (refusal.empty() || refusal.rfind("421", 0) == 0);
  }
};

FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FtpConnection::~FtpConnection() = default;

std::unique_ptr<FtpConnection> Session::connectFtp(const std::string& host,
                                                   const std::string& user,
                                                   const std::string& password) {
  auto impl = std::make_unique<FtpConnection::Impl>();
  impl->multi.reset(curl_multi_init());
  impl->easy.reset(curl_easy_init());
  impl->baseUrl = "ftp://" + host + "/";
  // A line break in the account would smuggle commands into the login.
  impl->usable = impl->multi && impl->easy && isPlainHost(host) && safeInCommand(user) && safeInCommand(password);
  if (impl->usable) {
    // A new connection replaces the kept one, never joins it.
    curl_multi_setopt(impl->multi.get(), CURLMOPT_MAXCONNECTS, 1L);
    CURL* e = impl->easy.get();
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
    // An HTTP proxy would get the account and could claim a put it never made.
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    impl->user = user;
    impl->password = password;
    curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, collectResponse);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &impl->replies);
    curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, noteCommand);
    curl_easy_setopt(e, CURLOPT_DEBUGDATA, &impl->lastCommand);
    curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
    impl->server = host;
    if (detail::passiveNeeded(host)) impl->usePassive();
  }
  return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(impl)));
}

// Puts name their folder in full, so a folder once entered needs no second
// CWD, not even after the server dropped the connection and a new login
// started elsewhere.
bool FtpConnection::setCurrentDirectory(const std::string& path) {
  if (!impl_->folder.empty() && path == impl_->folder) return true;
  const long code = impl_->command("CWD " + path);
  const bool entered = code >= 200 && code < 300;
  if (entered && path.size() > 1 && path.front() == '/' && path.back() != '/') impl_->folder = path;
  return entered;
}

bool FtpConnection::createDirectory(const std::string& name) {
  const long code = impl_->command("MKD " + name);
  return code >= 200 && code < 300;
}

bool FtpConnection::loginRefused() const { return impl_->refused; }

bool FtpConnection::unreachable() const { return impl_->gaveUp && !impl_->refused; }

std::string FtpConnection::trouble() const {
  return describe({impl_->refused, !impl_->loggedIn, impl_->server, impl_->user, impl_->password, impl_->troubleReply,
                   impl_->leftOnServer});
}

bool FtpConnection::putFile(const std::string& local, const std::string& remoteName) {
  impl_->leftOnServer.clear();
  if (!staysInFolder(remoteName)) return false;
  FileHandle file(std::fopen(local.c_str(), "rb"));
  if (!file) return false;
  struct stat status {};
  if (::fstat(::fileno(file.get()), &status) != 0) return false;
  const curl_off_t size = status.st_size;

  // curl refuses control characters in a URL, so a name with a tab is stored
  // under a parking name and then renamed to exactly what was asked.
  const std::string target = impl_->inFolder(remoteName);
  const bool urlCanCarryName = std::none_of(remoteName.begin(), remoteName.end(), isControl);
  if (urlCanCarryName) {
    const bool answered = impl_->store(file.get(), size, target);
    return impl_->confirmed(impl_->lastPut(answered, size), target, size);
  }

  // Parked beside its final place, where an account allowed only a subfolder
  // may write too; a folder part the URL cannot carry either parks it in the
  // folder entered.
  const std::size_t slash = target.rfind('/');
  const std::string landing = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const bool urlCanCarryFolder = std::none_of(landing.begin(), landing.end(), isControl);
  const std::string parked = urlCanCarryFolder ? landing + parkingName() : impl_->inFolder(parkingName());
  const bool answered = impl_->store(file.get(), size, parked);
  if (impl_->confirmed(impl_->lastPut(answered, size), parked, size) && impl_->command("RNFR " + parked) == 350 &&
      impl_->command("RNTO " + target) == 250) {
    return true;
  }
  // The parked file goes, or is named where the user reads why the photo
  // stayed. A DELE refused because the put never created it is no leftover.
  const std::string trouble = impl_->troubleReply;
  const long deleted = impl_->command("DELE " + parked);
  if ((deleted < 200 || deleted >= 300) && impl_->command("SIZE " + parked) != 550) impl_->leftOnServer = parked;
  impl_->troubleReply = trouble;
  return false;
}

}  // namespace kiv::net
