#pragma once

// Internal to the imaging layer: the only place that includes libvips.

#include <vips/vips8>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace kiv::imaging::detail {

// Starts libvips once per process; safe from any thread.
void ensureVips();

// Turns a libvips failure into kiv::Error with the given number, prefixed by what
// was being done. Every call into libvips goes through here.
template <class F>
auto vipsCall(int number, const std::string& what, F&& f) -> decltype(f());

[[noreturn]] void throwVipsError(int number, const std::string& what, const vips::VError& e);

template <class F>
auto vipsCall(int number, const std::string& what, F&& f) -> decltype(f()) {
  try {
    return std::forward<F>(f)();
  } catch (const vips::VError& e) {
    throwVipsError(number, what, e);
  }
}

struct Header {
  int width = 0;   // upright
  int height = 0;  // upright
};

// A picture file opened for reading. Opening never waits: a pipe or a device
// is refused, not read. Its first bytes must be those of a JPEG or a bitmap.
// 53 missing, 70 unreadable, 481 no picture. Every read of a photo by libvips
// goes through one of these, never through the path again.
class PictureFile {
 public:
  explicit PictureFile(const std::string& path);
  ~PictureFile();
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;

  Header header() const;
  // The picture scaled to `width` (and whatever the options say), in one decode.
  // options() is asked for a fresh option set for the call.
  vips::VImage thumbnail(int width, const std::function<vips::VOption*()>& options) const;

 private:
  template <class FromSource, class FromBlob>
  vips::VImage read(FromSource fromSource, FromBlob fromBlob) const;

  std::string path_;
  int fd_ = -1;
  std::size_t size_ = 0;
  bool jpeg_ = false;
};

}  // namespace kiv::imaging::detail
