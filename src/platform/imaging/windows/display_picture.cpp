#include <platform/imaging/imaging.hpp>

#include "wic_support.hpp"

#include <platform/host/error.hpp>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>

namespace kiv::imaging {

namespace {

host::Bitmap decodeForDisplay(const std::string& path) {
  detail::ComApartment com;
  const detail::PictureFile file(path, detail::createFactory());
  int width = file.header().width, height = file.header().height;
  if (width > DisplayBox || height > DisplayBox) {
    const double scale = std::min(static_cast<double>(DisplayBox) / width, static_cast<double>(DisplayBox) / height);
    width = std::clamp(static_cast<int>(std::lround(width * scale)), 1, DisplayBox);
    height = std::clamp(static_cast<int>(std::lround(height * scale)), 1, DisplayBox);
  }
  detail::Pixels pixels = file.render(width, height, GUID_WICPixelFormat32bppRGBA, false);
  host::Bitmap bitmap;
  bitmap.width = pixels.width;
  bitmap.height = pixels.height;
  bitmap.rgba = std::move(pixels.bytes);
  return bitmap;
}

class DisplayPicture final : public host::Picture {
 public:
  explicit DisplayPicture(std::string path) : path_(std::move(path)) {}

  const host::Bitmap& bitmap() const override {
    std::call_once(decoded_, [this] {
      try {
        pixels_ = decodeForDisplay(path_);
      } catch (const std::exception&) {
        // Damaged past its header, or gone since: shown as an empty picture.
        pixels_ = host::Bitmap{};
      }
    });
    return pixels_;
  }

 private:
  std::string path_;
  mutable std::once_flag decoded_;
  mutable host::Bitmap pixels_;
};

}  // namespace

host::PictureRef LoadDisplayPicture(const std::string& path) {
  {
    detail::ComApartment com;
    const detail::PictureFile file(path, detail::createFactory());
  }
  return std::make_shared<DisplayPicture>(path);
}

}  // namespace kiv::imaging
