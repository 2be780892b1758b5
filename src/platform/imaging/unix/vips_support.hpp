#pragma once

// Internal to the imaging layer: its one way into libvips. The layer's sources
// reach libvips only through this header, run every libvips call inside
// vipsCall (where vips::VError becomes kiv::Error) and keep what libvips hands
// out in owners from here.

#include "../codec.hpp"

#include <vips/vips8>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kiv::imaging::detail {

// Starts libvips once per process; safe from any thread.
void ensureVips();

// Runs f, turning a libvips failure into kiv::Error with the given number,
// prefixed by what was being done.
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

// Memory libvips allocated for the caller, freed when its owner goes.
class Bytes {
 public:
  const unsigned char* data() const { return static_cast<const unsigned char*>(memory_.get()); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {static_cast<const char*>(memory_.get()), size_}; }

 private:
  struct Free {
    void operator()(void* memory) const noexcept;
  };
  friend Bytes pixelsOf(const vips::VImage& image);
  friend Bytes jpegOf(const vips::VImage& image, int quality);

  std::unique_ptr<void, Free> memory_;
  std::size_t size_ = 0;
};

// The image rendered: its pixels as they lie in memory, or a JPEG file's bytes.
// Both throw vips::VError; call them inside vipsCall.
Bytes pixelsOf(const vips::VImage& image);
Bytes jpegOf(const vips::VImage& image, int quality);

struct Header {
  int width = 0;   // upright
  int height = 0;  // upright
};

// A picture file opened for reading (or, given a descriptor, read through a
// duplicate of it). Opening never waits: a pipe or a device
// is refused, not read. Its first bytes must be those of a JPEG or a bitmap.
// 53 missing, 70 unreadable, 481 no picture. Every read of a photo by libvips
// goes through one of these, never through the path again.
class PictureFile {
 public:
  explicit PictureFile(const codec::Source& source);
  ~PictureFile();
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;

  Header header() const;
  std::size_t size() const { return size_; }
  // Up to the first `limit` bytes of the file.
  std::string head(std::size_t limit) const;
  // The picture scaled to `width` (and whatever the options say), in one decode.
  // options() is asked for a fresh option set for the call. Throws
  // vips::VError; call it inside vipsCall.
  vips::VImage thumbnail(int width, const std::function<vips::VOption*()>& options) const;
  // A JPEG's own loader with these options (shrink, fail_on, ...); nothing for
  // a bitmap. Throws vips::VError; call it inside vipsCall.
  std::optional<vips::VImage> loadJpeg(vips::VOption* options) const;

 private:
  template <class FromSource, class FromBlob>
  vips::VImage read(FromSource fromSource, FromBlob fromBlob) const;

  std::string path_;
  int fd_ = -1;
  std::size_t size_ = 0;
  bool jpeg_ = false;
};

}  // namespace kiv::imaging::detail
