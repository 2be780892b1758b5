#pragma once

#include <platform/host/picture.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// What each platform's picture codec gives the image editor and the display
// pictures, whose rules are the same everywhere. Failures throw kiv::Error with
// the numbers imaging.hpp lists.
namespace kiv::imaging::codec {

struct Size {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Where a picture is read from: a path the codec opens itself, or a file open
// already (a descriptor, on Windows a HANDLE), read through a duplicate of its
// own and never through the path again, which then only names it in messages.
struct Source {
  Source(std::string path, std::intptr_t descriptor = -1) : path(std::move(path)), descriptor(descriptor) {}
  std::string path;
  std::intptr_t descriptor;
};

// The largest width or height the codec writes.
extern const std::int32_t LargestSide;

// The upright size of the JPEG or bitmap picture in the file, from its header.
Size uprightSize(const Source& source);

// How the file is stored: its size and, for a JPEG whose quantisation tables
// say it, the quality it was saved at.
struct Encoding {
  std::uint64_t bytes = 0;
  std::optional<int> jpegQuality;
};
Encoding encodingOf(const Source& source);

// The picture rendered once from the file, upright, at exactly width x height,
// as a JPEG at the quality given (1..100) with the orientation tag reset and
// the other metadata kept. A photo cut short fails (481) rather than being
// saved with its missing part filled in.
std::string renderJpeg(const Source& source, std::int32_t width, std::int32_t height, int quality);

// The picture decoded upright, reduced while decoding to fit box x box, as
// 8-bit RGBA.
host::Bitmap decodeToFit(const std::string& path, int box);

// Up to the first `limit` bytes of the file, for reading its Exif block;
// opening fails as for uprightSize.
std::string headOf(const Source& source, std::size_t limit);

// A JPEG held in memory (a camera's Exif thumbnail) decoded whole as 8-bit
// RGBA, as stored: an orientation tag of its own is not applied. Whatever the
// decoder finds wrong with it, down to a warning, fails (481): a damaged
// thumbnail is not worth showing.
host::Bitmap decodeJpegBytes(std::string_view jpeg);

// Replaces the file at path with bytes atomically.
void replaceFile(const std::string& path, std::string_view bytes);

}  // namespace kiv::imaging::codec
