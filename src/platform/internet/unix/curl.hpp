#pragma once

// Internal to the curl implementation: handle owners, time-outs and the body
// collector, shared by the web requests and the FTP connection.

#include <platform/internet/internet.hpp>

#include "../rules.hpp"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kiv::net::detail {

inline void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// Runs one transfer of easy on multi, which keeps its connection between
// transfers. curl 7.88 leaves a passive data connection that is still being
// made out of what it waits on, so its own loop would notice it only after a
// second; waking often keeps every passive put from costing that second.
// When stop() turns true the transfer is abandoned, its connection closed.
inline CURLcode performOn(CURLM* multi, CURL* easy, const std::function<bool()>& stop = nullptr) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLMcode status = CURLM_OK;
  for (int running = 1; running != 0 && status == CURLM_OK;) {
    status = curl_multi_perform(multi, &running);
    if (running != 0 && stop && stop()) {
      curl_multi_remove_handle(multi, easy);
      return CURLE_ABORTED_BY_CALLBACK;
    }
    if (running != 0 && status == CURLM_OK) status = curl_multi_poll(multi, nullptr, 0, 10, nullptr);
  }
  CURLcode result = status == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
  }
  curl_multi_remove_handle(multi, easy);
  return result;
}

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


inline void applyTimeouts(CURL* easy, const Timeouts& limits) {
  const long connect = static_cast<long>(limits.connect.count());
  const long idle = static_cast<long>(limits.idle.count());
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

inline size_t collectBody(char* data, size_t size, size_t count, void* userdata) {
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

}  // namespace kiv::net::detail
