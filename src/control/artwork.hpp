#pragma once

#include <platform/host/picture.hpp>

#include <string_view>

namespace kiv::artwork {

// A command button face: the text and a one-pixel border in dark blue on light
// blue, 18 pixels high and as wide as its image box.
host::PictureRef buttonFace(std::string_view text, int width);

// The 32 x 32 pointing hand shown over thumbnails and buttons: black outline,
// white fill, transparent elsewhere.
host::PictureRef pointingHand();
inline constexpr int kPointingHandHotSpotX = 7;
inline constexpr int kPointingHandHotSpotY = 1;

}  // namespace kiv::artwork
