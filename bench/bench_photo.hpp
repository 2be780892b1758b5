#pragma once

#include <vips/vips8>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kiv::bench {

// Smooth shading with fine grain and some edges, so the JPEG has about the
// entropy (and file size) of a real camera photo rather than of a flat gradient.
// The fine grain averages away when the photo is reduced; a detail seed above 0
// adds texture at about 1/8 scale too (different for each seed), so a reduced
// copy keeps the size of a reduced real photo.
inline void makePhoto(const std::string& file, int width, int height, int detailSeed = 0) {
  using vips::VImage;
  if (VIPS_INIT("kiv_bench") != 0) throw std::runtime_error("libvips did not start");
  VImage xy = VImage::xyz(width, height);
  VImage shade = xy[0] * (200.0 / width) + xy[1] * (55.0 / height);
  VImage ripples = ((xy[0] * 0.02).sin() * (xy[1] * 0.013).cos()) * 40.0;
  if (detailSeed > 0) {
    const int coarseWidth = std::max(1, width / 8), coarseHeight = std::max(1, height / 8);
    VImage coarse = VImage::gaussnoise(coarseWidth, coarseHeight, VImage::option()
                                                                      ->set("sigma", 28.0)
                                                                      ->set("mean", 0.0)
                                                                      ->set("seed", detailSeed));
    ripples = ripples + coarse
                            .resize(double(width) / coarseWidth,
                                    VImage::option()->set("vscale", double(height) / coarseHeight))
                            .crop(0, 0, width, height);
  }
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
