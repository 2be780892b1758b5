#include <platform/imaging/jpeg_quality.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace kiv::imaging {
namespace {

constexpr unsigned char kLuminance[64] = {16, 11, 12, 14, 12, 10, 16, 14, 13, 14, 18, 17, 16, 19, 24, 40,
                                          26, 24, 22, 22, 24, 49, 35, 37, 29, 40, 58, 51, 61, 60, 57, 51,
                                          56, 55, 64, 72, 92, 78, 64, 68, 87, 69, 55, 56, 80, 109, 81, 87,
                                          95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};

std::string segment(unsigned marker, const std::string& body) {
  const std::size_t length = body.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length)} +
         body;
}

// A DQT body as libjpeg writes one for this quality: the standard table scaled.
std::string table(int id, int quality, bool sixteenBit) {
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  std::string body(1, static_cast<char>((sixteenBit ? 0x10 : 0) | id));
  for (unsigned char standard : kLuminance) {
    const int value = std::clamp((standard * scale + 50) / 100, 1, sixteenBit ? 32767 : 255);
    if (sixteenBit) body += static_cast<char>(value >> 8);
    body += static_cast<char>(value);
  }
  return body;
}

const std::string kStart = "\xFF\xD8";
const std::string kScan = segment(0xDA, std::string(10, '\0'));

TEST(JpegQualityTest, ReadsTheQualityLibjpegScaledTheLuminanceTableFrom) {
  for (int quality : {10, 30, 50, 60, 75, 85, 90, 95}) {
    for (bool sixteenBit : {false, true}) {
      // Behind an Exif segment, with the chrominance table first in the same DQT.
      const std::string jpeg = kStart + segment(0xE1, "Exif" + std::string(300, 'x')) +
                               segment(0xDB, table(1, 20, sixteenBit) + table(0, quality, sixteenBit)) + kScan;
      // Within 2: at the lowest qualities 8-bit entries are cut off at 255.
      EXPECT_NEAR(estimatedJpegQuality(jpeg).value_or(0), quality, 2) << quality << (sixteenBit ? " 16-bit" : "");
    }
  }
}

TEST(JpegQualityTest, NoEstimateWithoutALuminanceTableBeforeTheScan) {
  EXPECT_EQ(estimatedJpegQuality(""), std::nullopt);
  EXPECT_EQ(estimatedJpegQuality("BM not a jpeg at all"), std::nullopt);
  EXPECT_EQ(estimatedJpegQuality(kStart + kScan + segment(0xDB, table(0, 75, false))), std::nullopt);
  EXPECT_EQ(estimatedJpegQuality(kStart + segment(0xDB, table(1, 75, false)) + kScan), std::nullopt);
  // Cut off inside the table, or a length running past what was read.
  const std::string whole = kStart + segment(0xDB, table(0, 75, false)) + kScan;
  EXPECT_EQ(estimatedJpegQuality(whole.substr(0, 40)), std::nullopt);
  EXPECT_EQ(estimatedJpegQuality(kStart + "\xFF\xDB\xFF\xFF"), std::nullopt);
}

TEST(JpegQualityTest, OutputQualityIsTheSourcesNeverAbove90) {
  EXPECT_EQ(outputJpegQuality(std::nullopt), 90);
  EXPECT_EQ(outputJpegQuality(98), 90);
  EXPECT_EQ(outputJpegQuality(62), 62);
}

}  // namespace
}  // namespace kiv::imaging
