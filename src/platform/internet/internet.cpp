#include <platform/internet/internet.hpp>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace kiv::net {
namespace {

std::atomic<long> connectSeconds{kConnectTimeout.count()};
std::atomic<long> idleSeconds{kIdleTimeout.count()};

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Owns a curl string list; curl only borrows it, so it must outlive the
// transfers that use it.
class StringList {
 public:
  StringList() = default;
  ~StringList() { curl_slist_free_all(list_); }
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;

  bool append(const std::string& text) {
    curl_slist* grown = curl_slist_append(list_, text.c_str());
    if (grown == nullptr) return false;
    list_ = grown;
    return true;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

bool holdsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void applyTimeouts(CURL* easy) {
  const long connect = connectSeconds.load();
  const long idle = idleSeconds.load();
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, connect);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, idle);
  // FTP waits for replies and for the server's data connection outside the
  // transfer phase, where the low-speed check does not look.
  curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, idle);
  curl_easy_setopt(easy, CURLOPT_ACCEPTTIMEOUT_MS, connect * 1000L);
}

struct BodySink {
  std::string body;
  bool tooLong = false;
};

size_t collectBody(char* data, size_t size, size_t count, void* userdata) {
  auto* sink = static_cast<BodySink*>(userdata);
  const size_t bytes = size * count;
  if (sink->body.size() + bytes > kMaxBodyBytes) {
    sink->tooLong = true;
    return 0;  // makes curl abandon the transfer
  }
  try {
    sink->body.append(data, bytes);
  } catch (...) {
    return 0;
  }
  return bytes;
}

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

// A host for an ftp:// URL: a name or address with an optional port, nothing
// that would change the URL's meaning.
bool isPlainHost(std::string_view host) {
  if (host.empty()) return false;
  return std::none_of(host.begin(), host.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7f || c == '/' || c == '\\' || c == '@' || c == '?' ||
           c == '#' || c == '%';
  });
}

// Escapes each segment of a remote path for the URL; curl turns it back into
// the exact name for the FTP commands.
std::string escapePath(CURL* easy, const std::string& path) {
  std::string escaped;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    const std::string segment =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!segment.empty()) {
      char* piece = curl_easy_escape(easy, segment.c_str(), static_cast<int>(segment.size()));
      if (piece == nullptr) return {};
      escaped += piece;
      curl_free(piece);
    }
    if (slash == std::string::npos) break;
    escaped += '/';
    start = slash + 1;
  }
  return escaped;
}

}  // namespace

void setTimeoutsForTesting(std::chrono::seconds connect, std::chrono::seconds idle) {
  connectSeconds.store(std::max<long>(1, static_cast<long>(connect.count())));
  idleSeconds.store(std::max<long>(1, static_cast<long>(idle.count())));
}

Session::Session(std::string agent) : agent_(std::move(agent)) { initialiseCurlOnce(); }

std::unique_ptr<Request> Session::openUrl(const std::string& url) {
  if (url.find('\0') != std::string::npos) return nullptr;
  EasyHandle easy(curl_easy_init());
  if (!easy) return nullptr;
  StringList headers;
  if (!headers.append("Cache-Control: no-cache") || !headers.append("Pragma: no-cache")) {
    return nullptr;
  }
  BodySink sink;
  CURL* e = easy.get();
  if (curl_easy_setopt(e, CURLOPT_URL, url.c_str()) != CURLE_OK) return nullptr;
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, agent_.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collectBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
  applyTimeouts(e);

  if (curl_easy_perform(e) != CURLE_OK || sink.tooLong) return nullptr;
  long status = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) return nullptr;
  return std::make_unique<Request>(std::move(sink.body));
}

Request::Request(std::string body) : body_(std::move(body)) {}

std::size_t Request::read(char* buffer, std::size_t size) {
  const std::size_t count = std::min(size, body_.size() - position_);
  std::copy_n(body_.data() + position_, count, buffer);
  position_ += count;
  return count;
}

struct FtpConnection::Impl {
  EasyHandle easy;
  std::string baseUrl;  // "ftp://host[:port]/"
  std::vector<std::string> responses;
  bool usable = false;

  bool perform() {
    responses.clear();
    applyTimeouts(easy.get());
    return curl_easy_perform(easy.get()) == CURLE_OK;
  }

  // Sends one command on the logged-in session. The "*" prefix keeps curl
  // from dropping the login when the server says no.
  bool command(const std::string& line) {
    if (!usable || holdsLineBreakOrNul(line)) return false;
    StringList quote;
    if (!quote.append("*" + line)) return false;
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, baseUrl.c_str());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(e, CURLOPT_QUOTE, quote.get());
    const bool performed = perform();
    curl_easy_setopt(e, CURLOPT_QUOTE, nullptr);
    if (!performed) return false;
    long code = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
    return code >= 200 && code < 300;
  }
};

FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FtpConnection::~FtpConnection() = default;

std::unique_ptr<FtpConnection> Session::connectFtp(const std::string& host,
                                                   const std::string& user,
                                                   const std::string& password) {
  auto impl = std::make_unique<FtpConnection::Impl>();
  impl->easy.reset(curl_easy_init());
  impl->baseUrl = "ftp://" + host + "/";
  // A line break in the account would smuggle commands into the login.
  impl->usable = impl->easy && isPlainHost(host) && !holdsLineBreakOrNul(user) &&
                 !holdsLineBreakOrNul(password);
  if (impl->usable) {
    CURL* e = impl->easy.get();
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(e, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, collectResponse);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &impl->responses);
  }
  return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(impl)));
}

bool FtpConnection::setCurrentDirectory(const std::string& path) {
  return impl_->command("CWD " + path);
}

bool FtpConnection::createDirectory(const std::string& name) {
  return impl_->command("MKD " + name);
}

bool FtpConnection::putFile(const std::filesystem::path& local, const std::string& remoteName) {
  if (!impl_->usable || remoteName.empty() || holdsLineBreakOrNul(remoteName)) return false;
  std::error_code error;
  const auto size = std::filesystem::file_size(local, error);
  if (error) return false;
  FileHandle file(std::fopen(local.c_str(), "rb"));
  if (!file) return false;
  CURL* e = impl_->easy.get();
  const std::string escaped = escapePath(e, remoteName);
  if (escaped.empty()) return false;
  const std::string url = impl_->baseUrl + escaped;

  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(e, CURLOPT_READFUNCTION, readFile);
  curl_easy_setopt(e, CURLOPT_READDATA, file.get());
  curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  const bool stored = impl_->perform();
  curl_easy_setopt(e, CURLOPT_UPLOAD, 0L);
  curl_easy_setopt(e, CURLOPT_READDATA, nullptr);
  curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
  if (!stored) return false;

  // A server may confirm a transfer it did not keep whole; ask what it holds.
  curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  if (!impl_->perform()) return false;
  curl_off_t held = -1;
  curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &held);
  if (held >= 0) return static_cast<std::uintmax_t>(held) == size;
  // No size: trusted when the server lacks SIZE, not when the file is missing.
  return std::none_of(impl_->responses.begin(), impl_->responses.end(),
                      [](const std::string& line) { return line.rfind("550", 0) == 0; });
}

}  // namespace kiv::net
