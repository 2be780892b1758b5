#pragma once

// Internal to the file-system layer: what its sources share over POSIX.

#include <platform/filesystem/filesystem.hpp>

#include <platform/host/error.hpp>

#include "../system_parts.hpp"

#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace kiv::fs::detail {

// How the layer's failures become kiv::Error: the number from
// systemErrorNumber (a missing object counts as the given kind), the message
// naming the path and the system's reason.
[[noreturn]] void fail(const std::error_code& ec, PathKind kind, const std::string& path);
[[noreturn]] void failSystem(int errnoValue, PathKind kind, const std::string& path);
[[noreturn]] void failErrno(PathKind kind, const std::string& path);
bool isMissing(const std::error_code& ec);

FileStamp stampOf(const struct stat& status);


// Closes a descriptor when its owner goes.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace kiv::fs::detail
