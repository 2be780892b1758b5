#pragma once

#include <platform/imaging/imaging.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace kiv::bench {

constexpr std::int16_t BoxWidth = 170;
constexpr std::int16_t BoxHeight = 226;

inline std::int16_t narrow(double value) {
  const double rounded = std::nearbyint(value);
  if (rounded < std::numeric_limits<std::int16_t>::min() || rounded > std::numeric_limits<std::int16_t>::max())
    throw std::overflow_error("size out of 16-bit range");
  return static_cast<std::int16_t>(rounded);
}

// The control's fitting rules: width first, then height against what is left.
inline void reduce(const std::string& photo, const std::string& out) {
  kiv::imaging::ImageEditor editor;
  editor.LoadPicture(photo);
  std::int16_t height = narrow(editor.PictureHeight());
  std::int16_t width = narrow(editor.PictureWidth());
  if (width > BoxWidth) {
    editor.ResizePicture(BoxWidth, narrow(static_cast<double>(BoxWidth) / width * height));
    height = narrow(editor.PictureHeight());
    width = narrow(editor.PictureWidth());
  }
  if (height > BoxHeight) editor.ResizePicture(narrow(static_cast<double>(BoxHeight) / height * width), BoxHeight);
  editor.SavePicture(out);
}

}  // namespace kiv::bench
