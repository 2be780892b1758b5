#include "vips_support.hpp"

#include <platform/host/error.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv::imaging::detail {

namespace {

enum class Kind { None, Jpeg, Bitmap };

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string firstLine(const char* text) {
  std::string line(text ? text : "");
  if (auto end = line.find('\n'); end != std::string::npos) line.erase(end);
  return line.empty() ? std::string("unknown imaging error") : line;
}

Kind sniff(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) throw Error(errc::FileNotFound, "File not found: " + path);
    if (err == EACCES || err == EPERM)
      throw Error(errc::PermissionDenied, "Permission denied: cannot read " + path);
    throw Error(errc::PathFileAccessError, "Cannot open " + path + ": " + std::strerror(err));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    throw Error(errc::InvalidPicture, "Invalid picture: " + path + " is not a file");

  unsigned char magic[3] = {};
  std::size_t got = 0;
  while (got < sizeof magic) {
    const ssize_t n = ::read(fd.get(), magic + got, sizeof magic - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      throw Error(errc::PathFileAccessError, "Cannot read " + path + ": " + std::strerror(err));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return Kind::Jpeg;
  if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') return Kind::Bitmap;
  return Kind::None;
}

}  // namespace

void ensureVips() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    started = VIPS_INIT("kivPhotoUpload") == 0;
    if (started) {
      // Photos are replaced in place; a cached load would hand back the old
      // picture for a path that now holds a new one.
      vips_cache_set_max(0);
    }
  });
  if (!started) throw Error(errc::ObjectDoesNotSupportAction, "The imaging library could not be started");
}

void throwVipsError(int number, const std::string& what, const vips::VError& e) {
  throw Error(number, what + ": " + firstLine(e.what()));
}

Header readHeader(const std::string& path) {
  ensureVips();
  const Kind kind = sniff(path);
  if (kind == Kind::None)
    throw Error(errc::InvalidPicture, "Invalid picture: " + path + " holds no JPEG or bitmap picture");

  const std::string what = "Invalid picture: " + path;
  return vipsCall(errc::InvalidPicture, what, [&] {
    auto options = vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL);
    vips::VImage image = kind == Kind::Jpeg ? vips::VImage::jpegload(path.c_str(), options)
                                            : vips::VImage::magickload(path.c_str(), options);
    Header header{image.width(), image.height()};
    if (vips_image_get_orientation_swap(image.get_image())) std::swap(header.width, header.height);
    if (header.width < 1 || header.height < 1) throw Error(errc::InvalidPicture, what + " has no pixels");
    return header;
  });
}

}  // namespace kiv::imaging::detail
