// The picture codec over libvips.
#include "../codec.hpp"

#include "../jpeg_quality.hpp"
#include "vips_support.hpp"

#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

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

std::string renderJpeg(const Source& source, std::int32_t width, std::int32_t height, int quality) {
  const detail::Bytes jpeg = detail::vipsCall(errc::InvalidPicture, "Cannot render " + source.path, [&] {
    using vips::VImage;
    // Rendering from the file lets the JPEG decoder shrink while decoding; the
    // rest of the way is one high-quality resample to the exact size.
    VImage picture = detail::PictureFile(source)
                         .thumbnail(width,
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

}  // namespace kiv::imaging::codec
