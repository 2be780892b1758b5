#pragma once

#include <filesystem>
#include <string>
#include <utility>

namespace kiv::test {

// Camera make written into every generated JPEG, so tests can see metadata kept.
inline constexpr const char* TestCameraMake = "KivTestCam";

// A JPEG with a colour gradient (red across, green down) so that scaling and
// turning show in the pixels. orientation is the EXIF orientation tag (1-8),
// quality the encoder's (1-100).
void writeJpeg(const std::filesystem::path& file, int width, int height, int orientation = 1, int quality = 85);
// A 24-bit bitmap with the same gradient.
void writeBmp(const std::filesystem::path& file, int width, int height);

// Width and height as stored in the file, not turned upright.
std::pair<int, int> pictureSize(const std::filesystem::path& file);
// The EXIF orientation tag, 1 when the file has none.
int orientationOf(const std::filesystem::path& file);
// The EXIF camera make, empty when the file has none.
std::string cameraMakeOf(const std::filesystem::path& file);
// The red and green of the stored pixel at (x, y).
std::pair<int, int> redGreenAt(const std::filesystem::path& file, int x, int y);

}  // namespace kiv::test
