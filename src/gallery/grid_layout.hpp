#pragma once

// Where the gallery puts its elements: three thumbnails to a row, each with
// its check box underneath. All lengths are twips.

#include <cstdint>

namespace kiv::gallery {

struct Size {
  float width = 0;
  float height = 0;
};

// The home position of element i (from 0), before any scrolling.
struct Cell {
  float thumbnailLeft = 0;
  float thumbnailTop = 0;
  float boxLeft = 0;
  float boxTop = 0;
};

Cell gridCell(std::int32_t index, Size thumbnail, Size box);

// How far the gallery of count elements scrolls in a frame of frameHeight: far
// enough that the last row's check boxes come into view, however many rows.
std::int32_t scrollExtent(std::int32_t count, Size thumbnail, Size box, float frameHeight);

}  // namespace kiv::gallery
