// The picture codec over libvips.
#include "../codec.hpp"

#include "../jpeg_quality.hpp"
#include "vips_support.hpp"

#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

#include <optional>

namespace kiv::imaging::codec {

const std::int32_t LargestSide = VIPS_MAX_COORD;

Size uprightSize(const Source& source) {
  const detail::Header header = detail::PictureFile(source).header();
  return {header.width, header.height};
}

Encoding encodingOf(const Source& source) {
  const detail::PictureFile file(source);
  return {file.size(), estimatedJpegQuality(file.head(kJpegTablesReach))};
}

namespace {

// The largest reduction the JPEG decoder can make while decoding (1/2, 1/4 or
// 1/8, each pixel the mean of its block) that leaves the picture no smaller
// than wanted. libvips' thumbnail stops a step short of it, for sharpness at
// large reductions; for a photo sent at 640 x 480 that decodes it at four times
// the pixels, a third of the work of a reduction, for no visible gain.
int decoderShrink(const detail::Header& upright, int width, int height) {
  for (const int shrink : {8, 4, 2}) {
    if (upright.width / shrink >= width && upright.height / shrink >= height) return shrink;
  }
  return 1;
}

// A plain photo: 8-bit RGB or grey with no colour profile to honour, which the
// decoder's shrink and one resample take to the exact size unchanged. Others
// (CMYK, profiles, 16 bits) go through libvips' thumbnail, which handles them.
bool plainPhoto(const vips::VImage& picture) {
  const VipsInterpretation kind = picture.interpretation();
  return picture.format() == VIPS_FORMAT_UCHAR && (picture.bands() == 3 || picture.bands() == 1) &&
         (kind == VIPS_INTERPRETATION_sRGB || kind == VIPS_INTERPRETATION_B_W) &&
         picture.get_typeof(VIPS_META_ICC_NAME) == 0;
}

std::optional<vips::VImage> renderedPlainJpeg(const detail::PictureFile& file, int width, int height) {
  using vips::VImage;
  std::optional<VImage> loaded =
      file.loadJpeg(VImage::option()
                        ->set("shrink", decoderShrink(file.header(), width, height))
                        ->set("access", VIPS_ACCESS_SEQUENTIAL)
                        ->set("fail_on", VIPS_FAIL_ON_TRUNCATED));
  if (!loaded || !plainPhoto(*loaded)) return std::nullopt;
  // Turned at the final size: a turn reads across the rows, which the decoder,
  // reading in order, could not serve at full size.
  const bool turned = vips_image_get_orientation_swap(loaded->get_image());
  const int storedWidth = turned ? height : width, storedHeight = turned ? width : height;
  VImage picture =
      loaded->resize(static_cast<double>(storedWidth) / loaded->width(),
                     VImage::option()->set("vscale", static_cast<double>(storedHeight) / loaded->height()));
  if (picture.width() != storedWidth || picture.height() != storedHeight) return std::nullopt;
  if (vips_image_get_orientation(picture.get_image()) != 1) picture = picture.copy_memory().autorot();
  return picture;
}

// The picture as 8-bit RGBA in memory. Throws vips::VError.
host::Bitmap rgbaOf(vips::VImage picture) {
  using vips::VImage;
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
}

}  // namespace

std::string renderJpeg(const Source& source, std::int32_t width, std::int32_t height, int quality) {
  const detail::Bytes jpeg = detail::vipsCall(errc::InvalidPicture, "Cannot render " + source.path, [&] {
    using vips::VImage;
    // Rendering from the file lets the JPEG decoder shrink while decoding; the
    // rest of the way is one high-quality resample to the exact size.
    const detail::PictureFile file(source);
    if (std::optional<VImage> plain = renderedPlainJpeg(file, width, height)) {
      VImage picture = plain->copy();
      picture.set(VIPS_META_ORIENTATION, 1);
      return detail::jpegOf(picture, quality);
    }
    VImage picture = file.thumbnail(width,
                                    [&] {
                                      return VImage::option()
                                          ->set("height", height)
                                          ->set("size", VIPS_SIZE_FORCE)
                                          // Read from a source, the loader takes it only this way.
                                          ->set("option_string", "fail_on=truncated");
                                    })
                         .copy();
    picture.set(VIPS_META_ORIENTATION, 1);
    return detail::jpegOf(picture, quality);
  });
  return std::string(jpeg.view());
}

host::Bitmap decodeToFit(const std::string& path, int box) {
  return detail::vipsCall(errc::InvalidPicture, "Cannot decode " + path, [&] {
    using vips::VImage;
    VImage picture = detail::PictureFile(path).thumbnail(
        box, [&] { return VImage::option()->set("height", box)->set("size", VIPS_SIZE_DOWN); });
    return rgbaOf(picture);
  });
}

void replaceFile(const std::string& path, std::string_view bytes) { fs::ReplaceFileAtomically(path, bytes); }

std::string headOf(const Source& source, std::size_t limit) { return detail::PictureFile(source).head(limit); }

host::Bitmap decodeJpegBytes(std::string_view jpeg) {
  detail::ensureVips();
  return detail::vipsCall(errc::InvalidPicture, "Cannot decode an embedded thumbnail", [&] {
    using vips::VImage;
    // Read in place: the image never outlives the call.
    VImage picture = VImage::new_from_buffer(jpeg.data(), jpeg.size(), "",
                                             VImage::option()
                                                 ->set("access", VIPS_ACCESS_SEQUENTIAL)
                                                 ->set("fail_on", VIPS_FAIL_ON_WARNING));
    return rgbaOf(picture);
  });
}

}  // namespace kiv::imaging::codec
