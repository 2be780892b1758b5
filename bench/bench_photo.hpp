#pragma once

#include <vips/vips8>

#include <stdexcept>
#include <string>

namespace kiv::bench {

// Smooth shading with fine grain and some edges, so the JPEG has about the
// entropy (and file size) of a real camera photo rather than of a flat gradient.
inline void makePhoto(const std::string& file, int width, int height) {
  using vips::VImage;
  if (VIPS_INIT("kiv_bench") != 0) throw std::runtime_error("libvips did not start");
  VImage xy = VImage::xyz(width, height);
  VImage shade = xy[0] * (200.0 / width) + xy[1] * (55.0 / height);
  VImage ripples = ((xy[0] * 0.02).sin() * (xy[1] * 0.013).cos()) * 40.0;
  VImage red = shade + ripples + VImage::gaussnoise(width, height, VImage::option()->set("sigma", 9.0));
  VImage green = shade * 0.8 - ripples + VImage::gaussnoise(width, height, VImage::option()->set("sigma", 9.0));
  VImage blue = (255.0 - shade) + VImage::gaussnoise(width, height, VImage::option()->set("sigma", 9.0));
  VImage photo = red.bandjoin(green).bandjoin(blue).cast(VIPS_FORMAT_UCHAR).copy(
      VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
  photo.set("exif-ifd0-Make", "BenchCam");
  photo.set("exif-ifd0-Model", "24MP");
  photo.set(VIPS_META_ORIENTATION, 1);
  photo.jpegsave(file.c_str(), VImage::option()->set("Q", 92));
}

}  // namespace kiv::bench
