#include <platform/imaging/imaging.hpp>

#include "vips_support.hpp"

#include <platform/host/error.hpp>

#include <mutex>
#include <string>

namespace kiv::imaging {

namespace {

host::Bitmap decodeForDisplay(const std::string& path) {
  return detail::vipsCall(errc::InvalidPicture, "Cannot decode " + path, [&] {
    using vips::VImage;
    VImage picture = detail::PictureFile(path).thumbnail(
        DisplayBox, [] { return VImage::option()->set("height", DisplayBox)->set("size", VIPS_SIZE_DOWN); });
    if (picture.interpretation() != VIPS_INTERPRETATION_sRGB) picture = picture.colourspace(VIPS_INTERPRETATION_sRGB);
    if (picture.format() != VIPS_FORMAT_UCHAR) picture = picture.cast(VIPS_FORMAT_UCHAR);
    if (picture.bands() == 3) picture = picture.bandjoin_const({255});
    if (picture.bands() > 4) picture = picture.extract_band(0, VImage::option()->set("n", 4));

    const detail::Bytes pixels = detail::pixelsOf(picture);
    host::Bitmap bitmap;
    bitmap.width = picture.width();
    bitmap.height = picture.height();
    bitmap.rgba.assign(pixels.data(), pixels.data() + pixels.size());
    return bitmap;
  });
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
  detail::PictureFile(path).header();
  return std::make_shared<DisplayPicture>(path);
}

}  // namespace kiv::imaging
