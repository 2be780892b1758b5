#include <platform/imaging/imaging.hpp>

#include "vips_support.hpp"

#include <platform/host/error.hpp>

#include <glib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv::imaging {

namespace {

constexpr int JpegQuality = 90;

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
using VipsBuffer = std::unique_ptr<void, GFree>;

[[noreturn]] void throwSaveError(int err, const std::string& path) {
  int number = errc::PathFileAccessError;
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      number = errc::PathNotFound;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      number = errc::PermissionDenied;
      break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      number = errc::DiskFull;
      break;
    default:
      break;
  }
  throw Error(number, "Cannot save the picture to " + path + ": " + std::strerror(err));
}

// A temporary file beside the target, removed unless it was renamed into place.
// Its name starts with "." so that folder listings never show it as a photo.
class TempFile {
 public:
  explicit TempFile(const std::filesystem::path& target) {
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string leaf = ".";
    leaf += target.filename().string();
    leaf += ".kiv-XXXXXX";
    name_ = (folder / leaf).string();
    fd_ = ::mkstemp(name_.data());
    if (fd_ < 0) throwSaveError(errno, target.string());
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(name_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  // Closes the file and reports the close's own failure (delayed write errors).
  int close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }
  const std::string& name() const { return name_; }
  void committed() { committed_ = true; }

 private:
  std::string name_;
  int fd_ = -1;
  bool committed_ = false;
};

void replaceFile(const std::string& path, const char* data, std::size_t size) {
  const std::filesystem::path target(path);
  TempFile temp(target);

  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fchmod(temp.fd(), mode) != 0) throwSaveError(errno, path);

  while (size > 0) {
    const ssize_t n = ::write(temp.fd(), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throwSaveError(errno, path);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  if (::fsync(temp.fd()) != 0) throwSaveError(errno, path);
  if (temp.close() != 0) throwSaveError(errno, path);
  if (::rename(temp.name().c_str(), path.c_str()) != 0) throwSaveError(errno, path);
  temp.committed();

  // Make the rename itself durable; the picture is already safely in place.
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace

void ImageEditor::LoadPicture(const std::string& path) {
  const detail::Header header = detail::readHeader(path);
  source_ = path;
  width_ = header.width;
  height_ = header.height;
  loaded_ = true;
}

std::int32_t ImageEditor::PictureWidth() const {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  return width_;
}

std::int32_t ImageEditor::PictureHeight() const {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  return height_;
}

void ImageEditor::ResizePicture(std::int32_t width, std::int32_t height) {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");
  if (width < 1 || height < 1 || width > VIPS_MAX_COORD || height > VIPS_MAX_COORD)
    throw Error(errc::InvalidProcedureCall, "Invalid picture size " + std::to_string(width) + " x " +
                                                std::to_string(height));
  width_ = width;
  height_ = height;
}

void ImageEditor::SavePicture(const std::string& path) {
  if (!loaded_) throw Error(errc::InvalidProcedureCall, "No picture is loaded");

  void* bytes = nullptr;
  std::size_t size = 0;
  detail::vipsCall(errc::InvalidPicture, "Cannot render " + source_, [&] {
    using vips::VImage;
    // Rendering from the file lets the JPEG decoder shrink while decoding; the
    // rest of the way is one high-quality resample to the exact size. A photo cut
    // short fails here rather than being saved with its missing part filled in.
    VImage picture = VImage::thumbnail(source_.c_str(), width_,
                                       VImage::option()
                                           ->set("height", height_)
                                           ->set("size", VIPS_SIZE_FORCE)
                                           ->set("fail_on", VIPS_FAIL_ON_TRUNCATED))
                         .copy();
    picture.set(VIPS_META_ORIENTATION, 1);
    picture.write_to_buffer(".jpg", &bytes, &size, VImage::option()->set("Q", JpegQuality));
  });
  VipsBuffer owned(bytes);
  replaceFile(path, static_cast<const char*>(bytes), size);
}

}  // namespace kiv::imaging
