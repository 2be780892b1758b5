#pragma once

// Internal to the imaging layer: what the first bytes of a camera's JPEG tell
// about the photo, and the small JPEG the camera stored beside it in its Exif
// block (IFD1). Plain byte reading with every offset checked, whatever the
// file holds; no decoding.

#include <platform/host/picture.hpp>

#include <cstddef>
#include <string_view>

namespace kiv::imaging::exif {

// Cameras write the Exif block (at most 64 KiB) first and the frame header
// right after it, so both lie within this many bytes of the start.
inline constexpr std::size_t HeadBytes = 128 * 1024;

// A thumbnail larger than this is no thumbnail: decoding it would cost what
// the reduced photo costs.
inline constexpr int LargestThumbnailSide = 1024;

struct Size {
  int width = 0;
  int height = 0;
};

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct JpegHead {
  // As stored, before the orientation turns it; 0 x 0 when the frame header
  // lies beyond the bytes given.
  Size photo;
  // The Exif orientation tag (1..8), 1 without one.
  int orientation = 1;
  // The embedded JPEG, inside the bytes given; empty when there is none that
  // starts, has a frame header of at most LargestThumbnailSide and ends as a JPEG.
  std::string_view thumbnail;
  // As stored, from the thumbnail's own frame header.
  Size thumbnailSize;
};

// Reads the head of a JPEG file (its first bytes, HeadBytes are plenty).
JpegHead readJpegHead(std::string_view bytes);

// The part of the thumbnail that shows the photo without the black bars a
// camera adds when the photo's proportions are not the thumbnail's: the
// centred rectangle with the photo's proportions, rounded inwards so no row or
// column of a bar stays. Both sizes as stored. Empty when either size is, or
// when the photo would show less than a pixel wide or high.
Rect letterboxCrop(Size photo, Size thumbnail);

// The pixels inside crop, turned upright as the Exif orientation says; empty
// when crop does not lie within stored.
host::Bitmap uprightCrop(const host::Bitmap& stored, Rect crop, int orientation);

}  // namespace kiv::imaging::exif
