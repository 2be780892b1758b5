#include "snapshot.hpp"

#include <QGuiApplication>

#include <cmath>

namespace kiv::desktop {

namespace {

// The device pixels of a view's side, as the view measures it (control_views.cpp).
int devicePixels(double left, double extent, double ratio) {
  const double logical = static_cast<double>(std::lround(left + extent) - std::lround(left));
  return static_cast<int>(std::lround(logical * ratio));
}

}  // namespace

std::string ControlState::key() const {
  return index < 0 ? name : name + "[" + std::to_string(index) + "]";
}

SurfaceSnapshot takeSnapshot(const host::Surface& surface) {
  SurfaceSnapshot shot;
  shot.width = surface.Width / host::scale::TwipsPerPixel;
  shot.height = surface.Height / host::scale::TwipsPerPixel;
  shot.backColor = surface.BackColor;
  shot.mousePointer = surface.MousePointer;
  shot.mouseIcon = surface.MouseIcon;
  shot.mouseIconHotX = surface.MouseIconHotX;
  shot.mouseIconHotY = surface.MouseIconHotY;
  if (shot.mouseIcon) shot.mouseIcon->bitmap();
  // The highest ratio of the screens; the window's own is the same but for a
  // window on the lesser of two screens.
  const double ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;

  for (const host::Control* control : surface.controls()) {
    ControlState state;
    state.kind = control->Kind;
    state.name = control->Name;
    state.index = control->Index;
    // Frame children are always in twips; direct children in the surface's scale.
    auto toPixels = [&](float value) {
      float twips = control->Container ? value : surface.toTwips(value);
      return static_cast<double>(twips) / host::scale::TwipsPerPixel;
    };
    if (control->Container) state.container = control->Container->Name;
    state.geometry = {toPixels(control->Left), toPixels(control->Top), toPixels(control->Width),
                      toPixels(control->Height)};
    state.visible = control->Visible;
    state.enabled = control->Enabled;
    state.tabIndex = control->TabIndex;
    state.mousePointer = control->MousePointer;
    state.backColor = control->BackColor;
    state.foreColor = control->ForeColor;
    switch (control->Kind) {
      case host::ControlKind::Label:
        state.caption = static_cast<const host::Label*>(control)->Caption;
        break;
      case host::ControlKind::Frame:
        state.caption = static_cast<const host::Frame*>(control)->Caption;
        break;
      case host::ControlKind::CheckBox: {
        const auto* box = static_cast<const host::CheckBox*>(control);
        state.caption = box->Caption;
        state.value = box->Value;
        break;
      }
      case host::ControlKind::Image:
        state.picture = static_cast<const host::Image*>(control)->Picture;
        if (state.picture && state.visible) {
          const PixelRect& g = state.geometry;
          state.picture->bitmapFor(devicePixels(g.left, g.width, ratio), devicePixels(g.top, g.height, ratio));
        }
        break;
      case host::ControlKind::VScrollBar: {
        const auto* bar = static_cast<const host::VScrollBar*>(control);
        state.value = bar->Value;
        state.min = bar->Min;
        state.max = bar->Max;
        state.smallChange = bar->SmallChange;
        state.largeChange = bar->LargeChange;
        break;
      }
    }
    shot.controls.push_back(std::move(state));
  }
  return shot;
}

}  // namespace kiv::desktop
