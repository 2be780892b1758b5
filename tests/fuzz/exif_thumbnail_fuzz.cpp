// A photo's first bytes come from whatever wrote the file: reading them must
// not crash, and a thumbnail found must lie inside them, be a JPEG of a sane
// size, and crop to a rectangle inside itself.
#include <platform/imaging/exif_thumbnail.hpp>

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace exif = kiv::imaging::exif;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const exif::JpegHead head = exif::readJpegHead(bytes);
  if (head.orientation < 1 || head.orientation > 8) std::abort();
  if (head.thumbnail.empty()) return 0;
  if (head.thumbnail.data() < bytes.data() || head.thumbnail.data() + head.thumbnail.size() > bytes.data() + size)
    std::abort();
  if (head.thumbnail.substr(0, 2) != "\xFF\xD8") std::abort();
  const exif::Size thumbnail = head.thumbnailSize;
  if (thumbnail.width < 1 || thumbnail.height < 1 || thumbnail.width > exif::LargestThumbnailSide ||
      thumbnail.height > exif::LargestThumbnailSide)
    std::abort();
  const exif::Rect crop = exif::letterboxCrop(head.photo, thumbnail);
  if (crop.width == 0) return 0;
  if (crop.left < 0 || crop.top < 0 || crop.left + crop.width > thumbnail.width ||
      crop.top + crop.height > thumbnail.height)
    std::abort();
  return 0;
}
