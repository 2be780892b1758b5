#include "jpeg_quality.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kiv::imaging {
namespace {

// The luminance table of the JPEG standard (Annex K), in zig-zag order as a
// DQT segment stores it: what libjpeg scales by the quality.
constexpr std::uint8_t kStandardLuminance[64] = {
    16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40, 26, 24, 22, 22, 24, 49,
    35, 37, 29, 40, 58, 51, 61, 60, 57, 51, 56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56,
    80, 109, 81, 87, 95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};

constexpr int kHighestOutputQuality = 90;

unsigned byteAt(std::string_view bytes, std::size_t at) { return static_cast<unsigned char>(bytes[at]); }

// libjpeg's scaling inverted: a table at scale s percent of the standard one
// came from quality 50 * 100 / s below 50, and from 100 - s / 2 above it.
int qualityOfScale(double scale) {
  const double quality = scale <= 100.0 ? (200.0 - scale) / 2.0 : 5000.0 / scale;
  return std::clamp(static_cast<int>(std::lround(quality)), 1, 100);
}

}  // namespace

std::optional<int> estimatedJpegQuality(std::string_view head) {
  if (head.size() < 4 || byteAt(head, 0) != 0xFF || byteAt(head, 1) != 0xD8) return std::nullopt;
  std::size_t at = 2;
  while (at + 4 <= head.size()) {
    if (byteAt(head, at) != 0xFF) return std::nullopt;
    const unsigned marker = byteAt(head, at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // the scan began without table 0
    const std::size_t length = byteAt(head, at + 2) << 8 | byteAt(head, at + 3);
    if (length < 2 || at + 2 + length > head.size()) return std::nullopt;
    if (marker == 0xDB) {
      // One or more tables: a byte of precision (high nibble) and id, then 64
      // entries of one or two bytes.
      std::size_t table = at + 4;
      const std::size_t end = at + 2 + length;
      while (table < end) {
        const unsigned precision = byteAt(head, table) >> 4, id = byteAt(head, table) & 0x0F;
        const std::size_t entry = precision == 0 ? 1 : 2;
        if (table + 1 + 64 * entry > end) return std::nullopt;
        if (id == 0) {
          double percent = 0;
          for (std::size_t i = 0; i < 64; ++i) {
            const std::size_t value = entry == 1 ? byteAt(head, table + 1 + i)
                                                 : byteAt(head, table + 1 + 2 * i) << 8 |
                                                       byteAt(head, table + 2 + 2 * i);
            percent += value * 100.0 / kStandardLuminance[i];
          }
          return qualityOfScale(percent / 64);
        }
        table += 1 + 64 * entry;
      }
    }
    at += 2 + length;
  }
  return std::nullopt;
}

int outputJpegQuality(std::optional<int> sourceQuality) {
  return std::min(sourceQuality.value_or(kHighestOutputQuality), kHighestOutputQuality);
}

}  // namespace kiv::imaging
