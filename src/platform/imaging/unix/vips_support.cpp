#include "vips_support.hpp"

// Not among what vips8 includes: the switch for its vector (liborc) code.
#include <vips/vector.h>

#include <platform/host/error.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kiv::imaging::detail {

namespace {

std::string firstLine(const char* text) {
  std::string line(text ? text : "");
  if (auto end = line.find('\n'); end != std::string::npos) line.erase(end);
  return line.empty() ? std::string("unknown imaging error") : line;
}

[[noreturn]] void throwOpenError(int err, const std::string& path) {
  const int number = systemErrorNumber(err, PathKind::File);
  if (number == errc::FileNotFound) throw Error(number, "File not found: " + path);
  if (number == errc::PermissionDenied) throw Error(number, "Permission denied: cannot read " + path);
  throw Error(number, "Cannot read " + path + ": " + std::strerror(err));
}

// Reads at an offset, so the descriptor's own position stays where libvips
// expects it.
std::size_t readAt(int fd, unsigned char* buffer, std::size_t size, off_t offset, const std::string& path) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, buffer + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throwOpenError(errno, path);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

struct BlobUnref {
  void operator()(VipsBlob* blob) const { vips_area_unref(VIPS_AREA(blob)); }
};
using Blob = std::unique_ptr<VipsBlob, BlobUnref>;

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
      // liborc, which libvips compiles its vector code with, frees that code
      // without a lock: photos reduced on several threads at once crashed in
      // orc_code_free. Plain C costs a reduction about 5% (vipsthumbnail of a
      // 6000x4000 photo to 640x480: 0.22 s against 0.21 s).
      vips_vector_set_enabled(FALSE);
      // A photo cut short fails with a kiv::Error that says so; the decoder's
      // own warnings ("error in tile 0 x 320") would only reach the user's
      // terminal as noise.
      g_log_set_handler("VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
                        nullptr);
    }
  });
  if (!started) throw Error(errc::ObjectDoesNotSupportAction, "The imaging library could not be started");
}

void throwVipsError(int number, const std::string& what, const vips::VError& e) {
  throw Error(number, what + ": " + firstLine(e.what()));
}

void Bytes::Free::operator()(void* memory) const noexcept { g_free(memory); }

Bytes pixelsOf(const vips::VImage& image) {
  Bytes bytes;
  void* memory = image.write_to_memory(&bytes.size_);
  bytes.memory_.reset(memory);
  return bytes;
}

Bytes jpegOf(const vips::VImage& image, int quality) {
  Bytes bytes;
  void* memory = nullptr;
  image.write_to_buffer(".jpg", &memory, &bytes.size_, vips::VImage::option()->set("Q", quality));
  bytes.memory_.reset(memory);
  return bytes;
}

PictureFile::PictureFile(const codec::Source& source) : path_(source.path) {
  ensureVips();
  const std::string& path = source.path;
  const int fd = source.descriptor >= 0 ? ::fcntl(static_cast<int>(source.descriptor), F_DUPFD_CLOEXEC, 0)
                                        : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throwOpenError(errno, path);
  struct Closer {
    int fd;
    bool keep = false;
    ~Closer() {
      if (!keep) ::close(fd);
    }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    throw Error(errc::InvalidPicture, "Invalid picture: " + path + " is not a file");
  }
  unsigned char magic[3] = {};
  const std::size_t got = readAt(fd, magic, sizeof magic, 0, path);
  jpeg_ = got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF;
  if (!jpeg_ && (got < 2 || magic[0] != 'B' || magic[1] != 'M')) {
    throw Error(errc::InvalidPicture, "Invalid picture: " + path + " holds no JPEG or bitmap picture");
  }
  size_ = static_cast<std::size_t>(status.st_size);
  closer.keep = true;
  fd_ = fd;
}

PictureFile::~PictureFile() { ::close(fd_); }

std::string PictureFile::head(std::size_t limit) const {
  std::string bytes(std::min(limit, size_), '\0');
  bytes.resize(readAt(fd_, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), 0, path_));
  return bytes;
}

// A JPEG is read straight from the descriptor, so the decoder can shrink while
// decoding; a bitmap goes through ImageMagick, which reads it from memory.
template <class FromSource, class FromBlob>
vips::VImage PictureFile::read(FromSource fromSource, FromBlob fromBlob) const {
  if (jpeg_) {
    ::lseek(fd_, 0, SEEK_SET);
    return fromSource(vips::VSource::new_from_descriptor(fd_));
  }
  std::vector<unsigned char> bytes(size_);
  bytes.resize(readAt(fd_, bytes.data(), bytes.size(), 0, path_));
  const Blob blob(vips_blob_copy(bytes.data(), bytes.size()));
  return fromBlob(blob.get());
}

Header PictureFile::header() const {
  const std::string what = "Invalid picture: " + path_;
  return vipsCall(errc::InvalidPicture, what, [&] {
    auto options = [] { return vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL); };
    vips::VImage image =
        read([&](vips::VSource source) { return vips::VImage::jpegload_source(source, options()); },
             [&](VipsBlob* blob) { return vips::VImage::magickload_buffer(blob, options()); });
    Header header{image.width(), image.height()};
    if (vips_image_get_orientation_swap(image.get_image())) std::swap(header.width, header.height);
    if (header.width < 1 || header.height < 1) throw Error(errc::InvalidPicture, what + " has no pixels");
    return header;
  });
}

std::optional<vips::VImage> PictureFile::loadJpeg(vips::VOption* options) const {
  if (!jpeg_) {
    delete options;
    return std::nullopt;
  }
  ::lseek(fd_, 0, SEEK_SET);
  return vips::VImage::jpegload_source(vips::VSource::new_from_descriptor(fd_), options);
}

vips::VImage PictureFile::thumbnail(int width, const std::function<vips::VOption*()>& options) const {
  return read([&](vips::VSource source) { return vips::VImage::thumbnail_source(source, width, options()); },
              [&](VipsBlob* blob) { return vips::VImage::thumbnail_buffer(blob, width, options()); });
}

}  // namespace kiv::imaging::detail
