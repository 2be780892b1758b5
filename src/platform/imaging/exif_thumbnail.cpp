#include "exif_thumbnail.hpp"

#include <algorithm>
#include <cstdint>

namespace kiv::imaging::exif {

namespace {

constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t ThumbnailOffsetTag = 0x0201;
constexpr std::uint16_t ThumbnailLengthTag = 0x0202;
constexpr std::uint16_t TypeShort = 3;
constexpr std::uint16_t TypeLong = 4;

unsigned byteAt(std::string_view b, std::size_t at) { return static_cast<unsigned char>(b[at]); }

unsigned bigEndian16(std::string_view b, std::size_t at) { return byteAt(b, at) << 8 | byteAt(b, at + 1); }

// A TIFF body, read in its own byte order. Every read is checked against its end.
class Tiff {
 public:
  explicit Tiff(std::string_view bytes) : bytes_(bytes) {
    if (bytes.size() < 8) return;
    if (bytes.substr(0, 4) == std::string_view("II*\0", 4)) {
      valid_ = true;
    } else if (bytes.substr(0, 4) == std::string_view("MM\0*", 4)) {
      valid_ = big_ = true;
    }
  }

  bool valid() const { return valid_; }
  std::size_t size() const { return bytes_.size(); }
  std::string_view bytes() const { return bytes_; }

  bool fits(std::uint64_t at, std::uint64_t length) const { return at <= size() && length <= size() - at; }
  std::uint32_t u16(std::size_t at) const {
    const unsigned x = byteAt(bytes_, at), y = byteAt(bytes_, at + 1);
    return big_ ? (x << 8 | y) : (y << 8 | x);
  }
  std::uint32_t u32(std::size_t at) const {
    const std::uint32_t first = u16(at), second = u16(at + 2);
    return big_ ? (first << 16 | second) : (second << 16 | first);
  }

 private:
  std::string_view bytes_;
  bool valid_ = false;
  bool big_ = false;
};

// One directory's entries, in as far as they lie within the body.
struct Directory {
  std::size_t start = 0;
  std::size_t count = 0;
  std::uint32_t next = 0;  // where the following directory starts, 0 for none
};

bool directoryAt(const Tiff& tiff, std::uint32_t at, Directory& directory) {
  if (at < 8 || !tiff.fits(at, 2)) return false;
  directory.start = at + 2;
  const std::size_t declared = tiff.u16(at);
  directory.count = std::min(declared, (tiff.size() - directory.start) / 12);
  const std::uint64_t nextAt = directory.start + std::uint64_t{12} * declared;
  directory.next = directory.count == declared && tiff.fits(nextAt, 4) ? tiff.u32(static_cast<std::size_t>(nextAt)) : 0;
  return true;
}

// The value of a one-element SHORT or LONG entry with this tag, 0 without one.
std::uint32_t numberOf(const Tiff& tiff, const Directory& directory, std::uint16_t tag) {
  for (std::size_t i = 0; i < directory.count; ++i) {
    const std::size_t entry = directory.start + i * 12;
    if (tiff.u16(entry) != tag || tiff.u32(entry + 4) != 1) continue;
    const std::uint32_t type = tiff.u16(entry + 2);
    if (type == TypeShort) return tiff.u16(entry + 8);
    if (type == TypeLong) return tiff.u32(entry + 8);
    return 0;
  }
  return 0;
}

bool isFrameHeader(unsigned marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks a JPEG's marker segments up to the first scan, handing each one with
// a length (its marker and body, the body cut off where the bytes end) to
// visit, which returns false to stop.
template <class Visit>
void walkSegments(std::string_view jpeg, Visit visit) {
  if (jpeg.size() < 4 || byteAt(jpeg, 0) != 0xFF || byteAt(jpeg, 1) != 0xD8) return;
  std::size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (byteAt(jpeg, at) != 0xFF) return;
    const unsigned marker = byteAt(jpeg, at + 1);
    if (marker == 0xFF) {
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return;
    const std::size_t length = bigEndian16(jpeg, at + 2);
    if (length < 2) return;
    const std::size_t body = at + 4;
    const std::size_t end = std::min(jpeg.size(), at + 2 + length);
    if (!visit(marker, jpeg.substr(body, end - body))) return;
    at += 2 + length;
  }
}

Size frameSize(std::string_view jpeg) {
  Size size;
  walkSegments(jpeg, [&](unsigned marker, std::string_view body) {
    if (!isFrameHeader(marker)) return true;
    if (body.size() >= 5) size = {static_cast<int>(bigEndian16(body, 3)), static_cast<int>(bigEndian16(body, 1))};
    return false;
  });
  return size;
}

// A JPEG ends with its end marker; some writers pad the space they reserved.
bool endsAsJpeg(std::string_view jpeg) {
  std::size_t end = jpeg.size();
  while (end > 2 && byteAt(jpeg, end - 1) == 0) --end;
  return end >= 4 && byteAt(jpeg, end - 2) == 0xFF && byteAt(jpeg, end - 1) == 0xD9;
}

void readExif(const Tiff& tiff, JpegHead& head) {
  Directory first;
  if (!directoryAt(tiff, tiff.u32(4), first)) return;
  if (const std::uint32_t orientation = numberOf(tiff, first, OrientationTag); orientation >= 1 && orientation <= 8)
    head.orientation = static_cast<int>(orientation);

  Directory second;
  if (first.next == tiff.u32(4) || !directoryAt(tiff, first.next, second)) return;
  const std::uint32_t offset = numberOf(tiff, second, ThumbnailOffsetTag);
  const std::uint32_t length = numberOf(tiff, second, ThumbnailLengthTag);
  if (offset == 0 || length == 0 || !tiff.fits(offset, length)) return;
  const std::string_view thumbnail = tiff.bytes().substr(offset, length);
  if (!endsAsJpeg(thumbnail)) return;
  const Size size = frameSize(thumbnail);
  if (size.width < 1 || size.height < 1 || size.width > LargestThumbnailSide || size.height > LargestThumbnailSide)
    return;
  head.thumbnail = thumbnail;
  head.thumbnailSize = size;
}

}  // namespace

JpegHead readJpegHead(std::string_view bytes) {
  JpegHead head;
  bool exifSeen = false;
  walkSegments(bytes, [&](unsigned marker, std::string_view body) {
    if (isFrameHeader(marker)) {
      if (body.size() >= 5)
        head.photo = {static_cast<int>(bigEndian16(body, 3)), static_cast<int>(bigEndian16(body, 1))};
      return false;
    }
    // APP1 also carries XMP; only the first Exif block counts, as for every reader.
    if (marker == 0xE1 && !exifSeen && body.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
      exifSeen = true;
      if (const Tiff tiff(body.substr(6)); tiff.valid()) readExif(tiff, head);
    }
    return true;
  });
  return head;
}

Rect letterboxCrop(Size photo, Size thumbnail) {
  if (photo.width < 1 || photo.height < 1 || thumbnail.width < 1 || thumbnail.height < 1) return {};
  const std::int64_t pw = photo.width, ph = photo.height, tw = thumbnail.width, th = thumbnail.height;
  // Twice the bars' total, in units of 1/pw (or 1/ph) of a thumbnail pixel:
  // exact integers, so the rounding goes inwards however the sizes divide.
  if (pw * th > ph * tw) {
    const std::int64_t spare = th * pw - tw * ph;  // rows of bars, times pw
    if (spare < pw) return {0, 0, thumbnail.width, thumbnail.height};
    const auto top = static_cast<int>((spare + 2 * pw - 1) / (2 * pw));
    const auto bottom = static_cast<int>((th * pw + tw * ph) / (2 * pw));
    if (bottom <= top) return {};
    return {0, top, thumbnail.width, bottom - top};
  }
  const std::int64_t spare = tw * ph - th * pw;  // columns of bars, times ph
  if (spare < ph) return {0, 0, thumbnail.width, thumbnail.height};
  const auto left = static_cast<int>((spare + 2 * ph - 1) / (2 * ph));
  const auto right = static_cast<int>((tw * ph + th * pw) / (2 * ph));
  if (right <= left) return {};
  return {left, 0, right - left, thumbnail.height};
}

host::Bitmap uprightCrop(const host::Bitmap& stored, Rect crop, int orientation) {
  if (crop.left < 0 || crop.top < 0 || crop.width < 1 || crop.height < 1 || crop.left > stored.width - crop.width ||
      crop.top > stored.height - crop.height ||
      stored.rgba.size() < static_cast<std::size_t>(stored.width) * static_cast<std::size_t>(stored.height) * 4)
    return {};
  const bool turned = orientation >= 5 && orientation <= 8;
  host::Bitmap out;
  out.width = turned ? crop.height : crop.width;
  out.height = turned ? crop.width : crop.height;
  out.rgba.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
  const int w = crop.width, h = crop.height;
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      // Where the upright pixel (x, y) lies in the stored crop.
      int sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y, sy = x; break;
        case 6: sx = y, sy = h - 1 - x; break;
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;
        case 8: sx = w - 1 - y, sy = x; break;
        default: break;
      }
      const std::size_t from =
          (static_cast<std::size_t>(crop.top + sy) * static_cast<std::size_t>(stored.width) + crop.left + sx) * 4;
      const std::size_t to = (static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) + x) * 4;
      std::copy_n(stored.rgba.begin() + static_cast<std::ptrdiff_t>(from), 4,
                  out.rgba.begin() + static_cast<std::ptrdiff_t>(to));
    }
  }
  return out;
}

}  // namespace kiv::imaging::exif
