#pragma once

#include <control/upload.hpp>

#include <windows.h>

namespace kiv::windows {

// Draws the control's surface into dc with its top-left corner at bounds' and
// at one device pixel per surface pixel, clipped to bounds. The visible
// children are drawn in stored order; those of a frame are clipped to it. The
// device context is left as it was found.
void drawSurface(const Upload& upload, HDC dc, const RECT& bounds);

}  // namespace kiv::windows
