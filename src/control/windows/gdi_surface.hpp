#pragma once

#include <control/upload.hpp>

#include <windows.h>

namespace kiv::gdi {

// Draws the control's surface into dc with its top-left corner at bounds' and
// at one device pixel per surface pixel, clipped to bounds. The visible
// children are drawn in stored order; those of a frame are clipped to it. The
// device context is left as it was found.
void drawSurface(const Upload& upload, HDC dc, const RECT& bounds);

// Where drawSurface puts a child control: a frame's children are offset by
// the frame's place, but not clipped to it.
RECT controlRect(const Upload& upload, const host::Control& control, const RECT& bounds);

// The child a click at point lands on: the last drawn of the visible ones
// under it, a frame's children only inside the frame; null for the surface.
host::Control* controlAt(Upload& upload, POINT point, const RECT& bounds);

enum class ScrollPart { None, LineUp, LineDown, PageUp, PageDown, Thumb };
// The part of a scroll bar drawn in rect at point.
ScrollPart scrollPartAt(const host::VScrollBar& bar, const RECT& rect, POINT point);

}  // namespace kiv::gdi
