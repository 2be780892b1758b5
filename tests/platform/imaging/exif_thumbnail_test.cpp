#include <platform/imaging/exif_thumbnail.hpp>

#include "camera_exif.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kiv::imaging::exif {
namespace {

std::string frameHeader(int width, int height) {
  const std::string body{8,
                         static_cast<char>(height >> 8),
                         static_cast<char>(height),
                         static_cast<char>(width >> 8),
                         static_cast<char>(width),
                         1,
                         1,
                         0x11,
                         0};
  return test::segment(0xC0, body);
}

// Enough of a JPEG for reading: start, frame header, end.
std::string tinyJpeg(int width, int height) { return "\xFF\xD8" + frameHeader(width, height) + "\xFF\xD9"; }

std::string photoHead(const std::string& tiff, int width = 6000, int height = 4000) {
  return "\xFF\xD8" + test::segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x/>") + test::exifSegment(tiff) +
         frameHeader(width, height) + test::segment(0xDA, std::string(10, '\0'));
}

bool inside(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

TEST(ExifThumbnailTest, FindsThumbnailOrientationAndSizesInEitherByteOrder) {
  const std::string thumbnail = tinyJpeg(160, 120);
  for (bool big : {false, true}) {
    const std::string head = photoHead(test::exifTiff(thumbnail, {.orientation = 6, .bigEndian = big}));
    const JpegHead found = readJpegHead(head);
    EXPECT_EQ(found.orientation, 6) << big;
    EXPECT_EQ(found.thumbnail, thumbnail) << big;
    EXPECT_TRUE(inside(found.thumbnail, head));
    EXPECT_EQ(found.thumbnailSize.width, 160);
    EXPECT_EQ(found.thumbnailSize.height, 120);
    EXPECT_EQ(found.photo.width, 6000);
    EXPECT_EQ(found.photo.height, 4000);
  }
}

TEST(ExifThumbnailTest, NothingFromBlocksThatPointAstray) {
  const std::string thumbnail = tinyJpeg(160, 120);
  const auto size = static_cast<std::int64_t>(thumbnail.size());
  struct Case {
    const char* what;
    std::string thumbnail;
    test::ExifLayout layout;
  };
  const std::vector<Case> cases = {
      {"offset past the end", thumbnail, {.offsetShift = 100000}},
      {"offset and length wrapping around", thumbnail, {.offsetShift = 0xFFFFFF00, .lengthShift = 0x200}},
      {"length 0", thumbnail, {.lengthShift = -size}},
      {"one byte past the end", thumbnail, {.lengthShift = 1}},
      {"IFD1 is IFD0 again", thumbnail, {.ifd1IsIfd0 = true}},
      {"not a JPEG", "\xFF\xD9" + thumbnail, {}},
      {"no end marker", thumbnail.substr(0, thumbnail.size() - 2), {}},
      {"no frame header", "\xFF\xD8\xFF\xD9", {}},
      {"too large to be a thumbnail", tinyJpeg(5000, 4000), {}},
      {"no pixels", tinyJpeg(0, 120), {}},
  };
  for (Case c : cases) {
    c.layout.orientation = 3;
    const JpegHead found = readJpegHead(photoHead(test::exifTiff(c.thumbnail, c.layout)));
    EXPECT_TRUE(found.thumbnail.empty()) << c.what;
    EXPECT_EQ(found.orientation, 3) << c.what;
  }

  EXPECT_EQ(readJpegHead(photoHead(test::exifTiff(thumbnail, {.orientation = 9}))).orientation, 1);
  std::string badFirstDirectory = test::exifTiff(thumbnail, {.orientation = 6});
  badFirstDirectory[4] = '\x7F';
  const JpegHead lost = readJpegHead(photoHead(badFirstDirectory));
  EXPECT_EQ(lost.orientation, 1);
  EXPECT_TRUE(lost.thumbnail.empty());

  // Cut anywhere, as a short file or a short read leaves it.
  const std::string head = photoHead(test::exifTiff(thumbnail, {.orientation = 6, .bigEndian = true}));
  for (std::size_t n = 0; n <= head.size(); ++n) {
    const std::string_view cut(head.data(), n);
    const JpegHead found = readJpegHead(cut);
    if (!found.thumbnail.empty()) {
      EXPECT_TRUE(inside(found.thumbnail, cut)) << n;
    }
  }
}

TEST(ExifThumbnailTest, CropsLetterboxToThePhotosAspect) {
  struct Case {
    Size photo, thumbnail;
    Rect crop;
  };
  const std::vector<Case> cases = {
      {{6000, 4000}, {160, 120}, {0, 7, 160, 106}},  // 3:2, bars of 6 2/3 rows
      {{4000, 6000}, {160, 120}, {40, 0, 80, 120}},  // 2:3 stored upright
      {{1920, 1080}, {160, 120}, {0, 15, 160, 90}},  // 16:9
      {{4000, 3000}, {160, 120}, {0, 0, 160, 120}},  // the thumbnail's own
      {{6000, 4000}, {160, 107}, {0, 0, 160, 107}},  // off by less than a pixel
      {{5472, 3648}, {160, 120}, {0, 7, 160, 106}},
      {{10000, 10}, {160, 120}, {0, 0, 0, 0}},       // a sliver
      {{0, 4000}, {160, 120}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Rect crop = letterboxCrop(c.photo, c.thumbnail);
    SCOPED_TRACE(std::to_string(c.photo.width) + "x" + std::to_string(c.photo.height));
    EXPECT_EQ(crop.left, c.crop.left);
    EXPECT_EQ(crop.top, c.crop.top);
    EXPECT_EQ(crop.width, c.crop.width);
    EXPECT_EQ(crop.height, c.crop.height);
    if (crop.width > 0) {
      EXPECT_LT(std::abs(crop.width * double(c.photo.height) / c.photo.width - crop.height), 1.0);
    }
  }
}

TEST(ExifThumbnailTest, TurnsTheCropUprightForEveryOrientation) {
  // Stored "abc/def" inside a frame of 'x' that the crop leaves out.
  const std::vector<std::string> rows = {"xxxxx", "xabcx", "xdefx", "xxxxx"};
  host::Bitmap stored{5, 4, {}};
  for (const std::string& row : rows)
    for (char pixel : row) stored.rgba.insert(stored.rgba.end(), {std::uint8_t(pixel), 0, 0, 255});

  const std::vector<std::string> upright = {"abc/def", "cba/fed", "fed/cba", "def/abc",
                                            "ad/be/cf", "da/eb/fc", "fc/eb/da", "cf/be/ad"};
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const host::Bitmap out = uprightCrop(stored, {1, 1, 3, 2}, orientation);
    std::string seen;
    for (int y = 0; y < out.height; ++y) {
      if (y > 0) seen += '/';
      for (int x = 0; x < out.width; ++x) seen += static_cast<char>(out.rgba[(std::size_t(y) * out.width + x) * 4]);
    }
    EXPECT_EQ(seen, upright[std::size_t(orientation - 1)]) << orientation;
  }
  EXPECT_TRUE(uprightCrop(stored, {3, 0, 3, 2}, 1).rgba.empty()) << "beyond the stored pixels";
}

}  // namespace
}  // namespace kiv::imaging::exif
