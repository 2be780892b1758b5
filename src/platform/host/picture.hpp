#pragma once

#include <platform/export.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace kiv::host {

// Eight-bit RGBA pixels, row by row, no padding.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

// What an image control shows. Assigning one control's picture to another shares
// the object, so pictures are immutable once made and held by shared pointer.
// bitmap() may decode on first use and is safe to call from several threads.
class KIV_EXPORT Picture {
 public:
  virtual ~Picture();
  // The picture at its full display quality.
  virtual const Bitmap& bitmap() const = 0;
  // What to draw stretched over a box of this many device pixels: may be a
  // smaller, cheaper bitmap than bitmap() when that shows as well there.
  // Thread-safe like bitmap().
  virtual const Bitmap& bitmapFor(int /*deviceWidth*/, int /*deviceHeight*/) const { return bitmap(); }
};

using PictureRef = std::shared_ptr<const Picture>;

// A picture whose pixels are already in memory (the button faces, tests).
class KIV_EXPORT BitmapPicture final : public Picture {
 public:
  explicit BitmapPicture(Bitmap pixels) : pixels_(std::move(pixels)) {}
  const Bitmap& bitmap() const override { return pixels_; }

 private:
  Bitmap pixels_;
};

}  // namespace kiv::host
