#include <gallery/grid_layout.hpp>

#include <gtest/gtest.h>

namespace kiv::gallery {
namespace {

// The sizes the form gives a thumbnail and its check box, and the frame's height.
constexpr Size kThumbnail{1575, 1455};
constexpr Size kBox{1575, 315};
constexpr float kFrame = 5535;

TEST(GridLayoutTest, ThreeToARowWithTheBoxUnderItsThumbnail) {
  const struct {
    std::int32_t index;
    float left, top;
  } cells[] = {{0, 5, 5}, {1, 1630, 5}, {2, 3255, 5}, {3, 5, 1875}, {6, 5, 3745}, {74, 3255, 5 + 1870 * 24}};
  for (const auto& expected : cells) {
    const Cell cell = gridCell(expected.index, kThumbnail, kBox);
    EXPECT_EQ(cell.thumbnailLeft, expected.left) << expected.index;
    EXPECT_EQ(cell.thumbnailTop, expected.top) << expected.index;
    EXPECT_EQ(cell.boxLeft, expected.left) << expected.index;
    EXPECT_EQ(cell.boxTop, expected.top + 1505) << expected.index;
  }
}

TEST(GridLayoutTest, TheExtentReachesTheLastRowsBoxes) {
  EXPECT_EQ(scrollExtent(7, kThumbnail, kBox, kFrame), 2910);
  EXPECT_EQ(scrollExtent(10, kThumbnail, kBox, kFrame), 3 * 1455);
  // 25 rows: past the 16-bit range of the classic extent, and the boxes still come into view.
  EXPECT_EQ(scrollExtent(75, kThumbnail, kBox, kFrame), 1510 + 1870 * 24 + 315 - 5535);
  EXPECT_EQ(scrollExtent(0, kThumbnail, kBox, kFrame), 0);
}

}  // namespace
}  // namespace kiv::gallery
