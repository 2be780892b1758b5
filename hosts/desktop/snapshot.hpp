#pragma once

// What the window draws: a copy of the control's surface taken on the control's
// thread at a repaint, so the window can paint from it while the control works on.

#include <platform/host/surface.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::desktop {

struct PixelRect {
  double left = 0, top = 0, width = 0, height = 0;
};

struct ControlState {
  host::ControlKind kind = host::ControlKind::Label;
  std::string name;
  int index = -1;  // element of a control array, -1 otherwise
  std::string container;  // name of the frame holding it, empty on the surface
  PixelRect geometry;  // pixels, relative to the container
  bool visible = true;
  bool enabled = true;
  int tabIndex = -1;
  int mousePointer = host::pointer::Default;
  host::OleColor backColor = host::SystemButtonFace;
  host::OleColor foreColor = host::SystemButtonText;
  std::string caption;
  host::PictureRef picture;
  std::int32_t value = 0, min = 0, max = 0, smallChange = 1, largeChange = 1;

  // "Image2[3]" for array elements, the plain name otherwise.
  std::string key() const;
};

struct SurfaceSnapshot {
  double width = 0, height = 0;  // pixels
  host::OleColor backColor = host::Rgb(255, 255, 255);
  int mousePointer = host::pointer::Default;
  host::PictureRef mouseIcon;
  int mouseIconHotX = 0, mouseIconHotY = 0;
  std::vector<ControlState> controls;  // stored order
};

// Copies the surface; pictures are decoded here, off the window's thread.
SurfaceSnapshot takeSnapshot(const host::Surface& surface);

}  // namespace kiv::desktop
