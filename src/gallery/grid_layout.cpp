#include <gallery/grid_layout.hpp>

#include <algorithm>

namespace kiv::gallery {
namespace {

constexpr std::int32_t kColumns = 3;
constexpr float kMargin = 5;
constexpr float kColumnGap = 50;
constexpr float kBoxGap = 50;
constexpr float kRowGap = 100;

}  // namespace

Cell gridCell(std::int32_t index, Size thumbnail, Size box) {
  const auto row = static_cast<float>(index / kColumns);
  const auto column = static_cast<float>(index % kColumns);
  Cell cell;
  cell.thumbnailLeft = kMargin + column * (thumbnail.width + kColumnGap);
  cell.thumbnailTop = kMargin + row * (thumbnail.height + box.height + kRowGap);
  cell.boxLeft = cell.thumbnailLeft;
  cell.boxTop = cell.thumbnailTop + thumbnail.height + kBoxGap;
  return cell;
}

std::int32_t scrollExtent(std::int32_t count, Size thumbnail, Size box, float frameHeight) {
  if (count < 1) return 0;
  const std::int32_t rowsBelowTheFirst = (count - 1) / kColumns;
  const auto extent = static_cast<std::int32_t>(static_cast<float>(rowsBelowTheFirst) * thumbnail.height);
  const Cell last = gridCell(count - 1, thumbnail, box);
  const auto lastBoxBottom = static_cast<std::int32_t>(last.boxTop + box.height);
  return std::max(extent, lastBoxBottom - static_cast<std::int32_t>(frameHeight));
}

}  // namespace kiv::gallery
