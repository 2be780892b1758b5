#include "support/photos.hpp"

#include <vips/vips8>

#include <mutex>
#include <stdexcept>

namespace kiv::test {

namespace {

using vips::VImage;

void startVips() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (VIPS_INIT("kiv-tests") != 0) throw std::runtime_error("libvips did not start");
    vips_cache_set_max(0);
  });
}

VImage gradient(int width, int height) {
  startVips();
  VImage xy = VImage::xyz(width, height);
  VImage red = xy[0] * (255.0 / std::max(1, width - 1));
  VImage green = xy[1] * (255.0 / std::max(1, height - 1));
  VImage blue = VImage::black(width, height) + 64;
  return red.bandjoin(green).bandjoin(blue).cast(VIPS_FORMAT_UCHAR).copy(
      VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

VImage open(const std::filesystem::path& file) {
  startVips();
  return VImage::new_from_file(file.c_str());
}

}  // namespace

void writeJpeg(const std::filesystem::path& file, int width, int height, int orientation, int quality) {
  VImage picture = gradient(width, height);
  picture.set(VIPS_META_ORIENTATION, orientation);
  picture.set("exif-ifd0-Make", TestCameraMake);
  picture.set("exif-ifd0-Model", "Model 1");
  picture.jpegsave(file.c_str(), VImage::option()->set("Q", quality));
}

void writeBmp(const std::filesystem::path& file, int width, int height) {
  gradient(width, height).magicksave(file.c_str(), VImage::option()->set("format", "BMP3"));
}

std::pair<int, int> pictureSize(const std::filesystem::path& file) {
  VImage picture = open(file);
  return {picture.width(), picture.height()};
}

int orientationOf(const std::filesystem::path& file) {
  VImage picture = open(file);
  return picture.get_typeof(VIPS_META_ORIENTATION) ? picture.get_int(VIPS_META_ORIENTATION) : 1;
}

std::string cameraMakeOf(const std::filesystem::path& file) {
  VImage picture = open(file);
  if (!picture.get_typeof("exif-ifd0-Make")) return {};
  // libvips shows EXIF strings as "value (value, ASCII, n components, m bytes)".
  std::string text = picture.get_string("exif-ifd0-Make");
  if (auto end = text.find(" ("); end != std::string::npos) text.erase(end);
  return text;
}

std::pair<int, int> redGreenAt(const std::filesystem::path& file, int x, int y) {
  std::vector<double> pixel = open(file).getpoint(x, y);
  return {static_cast<int>(pixel.at(0)), static_cast<int>(pixel.at(1))};
}

}  // namespace kiv::test
