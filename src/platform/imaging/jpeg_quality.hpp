#pragma once

// The quality a JPEG was saved at, read back from its quantisation tables, so
// a picture sent on is not encoded finer (and larger) than it came.

#include <cstddef>
#include <optional>
#include <string_view>

namespace kiv::imaging {

// How many of a file's first bytes hold its quantisation tables: they come
// before the first scan, behind at most a few application segments of 64 KiB.
inline constexpr std::size_t kJpegTablesReach = 256 * 1024;

// The IJG quality (1..100) the luminance table was scaled from, as libjpeg's
// own scaling would have made it (the estimate tools such as ImageMagick also
// give); nullopt when head is no JPEG or its tables come later.
std::optional<int> estimatedJpegQuality(std::string_view head);

// The quality a picture is written at: its source's own, never above 90.
int outputJpegQuality(std::optional<int> sourceQuality);

}  // namespace kiv::imaging
