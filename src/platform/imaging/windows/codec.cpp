// The picture codec over WIC.
#include "../codec.hpp"

#include "../jpeg_quality.hpp"
#include "wic_support.hpp"

#include <platform/filesystem/filesystem.hpp>

#include <algorithm>
#include <cmath>

namespace kiv::imaging::codec {

// The largest side a JPEG can have.
const std::int32_t LargestSide = 65500;

Size uprightSize(const Source& source) {
  detail::ComApartment com;
  const detail::PictureFile file(source, detail::createFactory());
  return {file.header().width, file.header().height};
}

Encoding encodingOf(const Source& source) {
  detail::ComApartment com;
  const detail::PictureFile file(source, detail::createFactory());
  return {file.size(), estimatedJpegQuality(file.head(kJpegTablesReach))};
}

std::string renderJpeg(const Source& source, std::int32_t width, std::int32_t height, int quality) {
  detail::ComApartment com;
  const detail::PictureFile file(source, detail::createFactory());
  const detail::Pixels pixels = file.render(width, height, GUID_WICPixelFormat24bppBGR, true);
  return file.encodeJpeg(pixels, static_cast<float>(quality) / 100.0f);
}

host::Bitmap decodeToFit(const std::string& path, int box) {
  detail::ComApartment com;
  const detail::PictureFile file(path, detail::createFactory());
  int width = file.header().width, height = file.header().height;
  if (width > box || height > box) {
    const double scale = std::min(static_cast<double>(box) / width, static_cast<double>(box) / height);
    width = std::clamp(static_cast<int>(std::lround(width * scale)), 1, box);
    height = std::clamp(static_cast<int>(std::lround(height * scale)), 1, box);
  }
  detail::Pixels pixels = file.render(width, height, GUID_WICPixelFormat32bppRGBA, false);
  host::Bitmap bitmap;
  bitmap.width = pixels.width;
  bitmap.height = pixels.height;
  bitmap.rgba = std::move(pixels.bytes);
  return bitmap;
}

void replaceFile(const std::string& path, std::string_view bytes) { fs::ReplaceFileAtomically(path, bytes); }

std::string headOf(const Source& source, std::size_t limit) { return detail::readHead(source, limit); }

host::Bitmap decodeJpegBytes(std::string_view jpeg) {
  detail::ComApartment com;
  detail::Pixels pixels = detail::decodeInMemory(detail::createFactory(), jpeg, GUID_WICPixelFormat32bppRGBA,
                                                 "Cannot decode an embedded thumbnail");
  host::Bitmap bitmap;
  bitmap.width = pixels.width;
  bitmap.height = pixels.height;
  bitmap.rgba = std::move(pixels.bytes);
  return bitmap;
}

}  // namespace kiv::imaging::codec
