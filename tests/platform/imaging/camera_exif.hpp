#pragma once

// Exif blocks as cameras write them: IFD0 with the orientation, IFD1 pointing
// at a JPEG thumbnail stored inside the block.

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::test {

struct ExifLayout {
  int orientation = 1;
  bool bigEndian = false;
  // Where IFD1 says the thumbnail is, relative to where it really is placed.
  std::int64_t offsetShift = 0;
  std::int64_t lengthShift = 0;
  bool ifd1IsIfd0 = false;
};

inline void putNumber(std::string& s, std::uint32_t value, int bytes, bool big) {
  for (int i = 0; i < bytes; ++i) {
    const int shift = big ? 8 * (bytes - 1 - i) : 8 * i;
    s += static_cast<char>(value >> shift & 0xFF);
  }
}

// The TIFF body: header, IFD0 (orientation), IFD1 (thumbnail offset and
// length), then the thumbnail.
inline std::string exifTiff(std::string_view thumbnail, const ExifLayout& layout = {}) {
  const bool big = layout.bigEndian;
  std::string tiff = big ? std::string("MM\0*", 4) : std::string("II*\0", 4);
  putNumber(tiff, 8, 4, big);
  auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
    putNumber(tiff, tag, 2, big);
    putNumber(tiff, type, 2, big);
    putNumber(tiff, 1, 4, big);
    if (type == 3) {
      putNumber(tiff, value, 2, big);
      putNumber(tiff, 0, 2, big);
    } else {
      putNumber(tiff, value, 4, big);
    }
  };
  constexpr std::uint32_t ifd1 = 8 + 2 + 12 + 4, data = ifd1 + 2 + 2 * 12 + 4;
  putNumber(tiff, 1, 2, big);
  entry(0x0112, 3, static_cast<std::uint32_t>(layout.orientation));
  putNumber(tiff, layout.ifd1IsIfd0 ? 8 : ifd1, 4, big);
  putNumber(tiff, 2, 2, big);
  entry(0x0201, 4, static_cast<std::uint32_t>(data + layout.offsetShift));
  entry(0x0202, 4, static_cast<std::uint32_t>(static_cast<std::int64_t>(thumbnail.size()) + layout.lengthShift));
  putNumber(tiff, 0, 4, big);
  tiff += thumbnail;
  return tiff;
}

inline std::string segment(unsigned marker, std::string_view body) {
  std::string s{'\xFF', static_cast<char>(marker)};
  putNumber(s, static_cast<std::uint32_t>(body.size() + 2), 2, true);
  s += body;
  return s;
}

inline std::string exifSegment(std::string_view tiff) {
  return segment(0xE1, std::string("Exif\0\0", 6) + std::string(tiff));
}

// The JPEG with its own Exif blocks replaced by this one, right after the start marker.
inline std::string withExif(std::string_view jpeg, std::string_view exif) {
  std::string out = std::string(jpeg.substr(0, 2)) + std::string(exif);
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF &&
         static_cast<unsigned char>(jpeg[at + 1]) != 0xDA) {
    const std::size_t length = static_cast<unsigned char>(jpeg[at + 2]) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
    const std::string_view part = jpeg.substr(at, 2 + length);
    if (!(static_cast<unsigned char>(jpeg[at + 1]) == 0xE1 && part.substr(4, 6) == std::string_view("Exif\0\0", 6)))
      out += part;
    at += 2 + length;
  }
  out += jpeg.substr(at);
  return out;
}

}  // namespace kiv::test
