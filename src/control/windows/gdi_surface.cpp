#include "gdi_surface.hpp"

#include <platform/windows/utf16.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::gdi {
namespace {

using host::Control;
using host::ControlKind;

// Restores the device context however a drawing step leaves it.
class SavedDc {
 public:
  explicit SavedDc(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~SavedDc() { RestoreDC(dc_, saved_); }
  SavedDc(const SavedDc&) = delete;
  SavedDc& operator=(const SavedDc&) = delete;

 private:
  HDC dc_;
  int saved_;
};

class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object) : object_(object) {}
  ~GdiObject() {
    if (object_) DeleteObject(object_);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ get() const { return object_; }

 private:
  HGDIOBJ object_;
};

COLORREF colorOf(host::OleColor color) {
  if (color & 0x80000000u) return GetSysColor(static_cast<int>(color & 0xFF));
  return static_cast<COLORREF>(color & 0x00FFFFFFu);
}

void fill(HDC dc, const RECT& rect, COLORREF color) {
  GdiObject brush(CreateSolidBrush(color));
  FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
}

// Rounded edge by edge, as the desktop host places its widgets, so that
// neighbours meet without gaps or overlaps.
RECT pixelRect(const host::Surface& surface, const Control& control, POINT origin) {
  auto toPixels = [&](float value) {
    const float twips = control.Container ? value : surface.toTwips(value);
    return static_cast<double>(twips) / host::scale::TwipsPerPixel;
  };
  const double left = toPixels(control.Left), top = toPixels(control.Top);
  const double right = left + toPixels(control.Width), bottom = top + toPixels(control.Height);
  return {origin.x + static_cast<LONG>(std::lround(left)), origin.y + static_cast<LONG>(std::lround(top)),
          origin.x + static_cast<LONG>(std::lround(right)), origin.y + static_cast<LONG>(std::lround(bottom))};
}

constexpr int kFontPixels = 11;  // the classic 8-point dialog font at 96 dpi
constexpr int kSmallestFontPixels = 9;

HFONT makeFont(int pixels) {
  return CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

// The classic font is narrower than most substitutes: a caption that fits its
// box there is drawn a little smaller rather than cut off.
HFONT fittedFont(HDC dc, const std::wstring& text, int width, int lines) {
  for (int pixels = kFontPixels;; --pixels) {
    HFONT font = makeFont(pixels);
    if (pixels <= kSmallestFontPixels || text.empty()) return font;
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    if (extent.cx <= width * lines) return font;
    DeleteObject(font);
  }
}

void drawLabel(HDC dc, const host::Label& label, RECT rect) {
  const std::wstring text = winapi::widen(label.Caption);
  if (text.empty()) return;
  SavedDc saved(dc);
  GdiObject probe(makeFont(kFontPixels));
  SelectObject(dc, probe.get());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const int lineHeight = std::max<int>(1, metrics.tmHeight + metrics.tmExternalLeading);
  const int lines = std::max<int>(1, (rect.bottom - rect.top) / lineHeight);
  GdiObject font(fittedFont(dc, text, rect.right - rect.left - 4, lines));
  SelectObject(dc, font.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colorOf(label.ForeColor));
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &rect, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
}

// The box's size in the device's own pixels: a container may draw the
// control through a scaling transform (a zoomed document, a printer).
SIZE deviceSize(HDC dc, const RECT& rect) {
  POINT corners[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
  if (!LPtoDP(dc, corners, 2)) return {rect.right - rect.left, rect.bottom - rect.top};
  return {std::abs(corners[1].x - corners[0].x), std::abs(corners[1].y - corners[0].y)};
}

void drawPicture(HDC dc, const host::Image& image, RECT rect) {
  if (!image.Picture) return;
  // Unstretched, the picture shows at its own size, which only bitmap() keeps.
  const SIZE device = deviceSize(dc, rect);
  const host::Bitmap& bitmap =
      image.Stretch ? image.Picture->bitmapFor(device.cx, device.cy) : image.Picture->bitmap();
  const std::size_t count = static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height);
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.rgba.size() < count * 4) return;
  if (!image.Stretch) {
    rect.right = rect.left + bitmap.width;
    rect.bottom = rect.top + bitmap.height;
  }
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;

  bool opaque = true;
  for (std::size_t i = 0; i < count && opaque; ++i) opaque = bitmap.rgba[i * 4 + 3] == 255;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = bitmap.width;
  info.bmiHeader.biHeight = -bitmap.height;  // top-down, as the picture's rows are
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;

  SavedDc saved(dc);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);

  if (opaque && image.Enabled) {
    std::vector<std::uint8_t> bgra(count * 4);
    for (std::size_t i = 0; i < count; ++i) {
      bgra[i * 4 + 0] = bitmap.rgba[i * 4 + 2];
      bgra[i * 4 + 1] = bitmap.rgba[i * 4 + 1];
      bgra[i * 4 + 2] = bitmap.rgba[i * 4 + 0];
      bgra[i * 4 + 3] = 255;
    }
    StretchDIBits(dc, rect.left, rect.top, width, height, 0, 0, bitmap.width, bitmap.height, bgra.data(), &info,
                  DIB_RGB_COLORS, SRCCOPY);
    return;
  }

  // Transparent pixels, or a command greyed out while it cannot be used (as
  // during an upload), need blending: premultiplied, as AlphaBlend wants them.
  void* bits = nullptr;
  GdiObject section(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!section.get() || !bits) return;
  auto* out = static_cast<std::uint8_t*>(bits);
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned alpha = bitmap.rgba[i * 4 + 3];
    out[i * 4 + 0] = static_cast<std::uint8_t>(bitmap.rgba[i * 4 + 2] * alpha / 255);
    out[i * 4 + 1] = static_cast<std::uint8_t>(bitmap.rgba[i * 4 + 1] * alpha / 255);
    out[i * 4 + 2] = static_cast<std::uint8_t>(bitmap.rgba[i * 4 + 0] * alpha / 255);
    out[i * 4 + 3] = static_cast<std::uint8_t>(alpha);
  }
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, section.get());
  BLENDFUNCTION blend{AC_SRC_OVER, 0, static_cast<BYTE>(image.Enabled ? 255 : 102), AC_SRC_ALPHA};
  GdiAlphaBlend(dc, rect.left, rect.top, width, height, source, 0, 0, bitmap.width, bitmap.height, blend);
  SelectObject(source, old);
  DeleteDC(source);
}

void drawFrame(HDC dc, const host::Frame& frame, RECT rect) {
  fill(dc, rect, colorOf(frame.BackColor));
  DrawEdge(dc, &rect, EDGE_ETCHED, BF_RECT);
}

void drawCheckBox(HDC dc, const host::CheckBox& box, RECT rect) {
  fill(dc, rect, colorOf(box.BackColor));
  constexpr int kIndicator = 13, kSpacing = 4;
  const int middle = (rect.top + rect.bottom) / 2;
  RECT indicator{rect.left, middle - kIndicator / 2, rect.left + kIndicator, middle - kIndicator / 2 + kIndicator};
  UINT state = box.Value == 2 ? DFCS_BUTTON3STATE | DFCS_CHECKED
                              : DFCS_BUTTONCHECK | (box.Value == 1 ? DFCS_CHECKED : 0u);
  if (!box.Enabled) state |= DFCS_INACTIVE;
  {
    SavedDc saved(dc);
    IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    DrawFrameControl(dc, &indicator, DFC_BUTTON, state);
  }

  const std::wstring text = winapi::widen(box.Caption);
  if (text.empty()) return;
  RECT caption{indicator.right + kSpacing, rect.top, rect.right, rect.bottom};
  SavedDc saved(dc);
  GdiObject font(fittedFont(dc, text, rect.right - rect.left - (kIndicator + kSpacing + 4), 1));
  SelectObject(dc, font.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, box.Enabled ? colorOf(box.ForeColor) : GetSysColor(COLOR_GRAYTEXT));
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &caption,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

int arrowLength(const RECT& rect) { return std::min(rect.right - rect.left, (rect.bottom - rect.top) / 2); }

// False when the bar shows no thumb.
bool thumbRect(const host::VScrollBar& bar, const RECT& rect, RECT& knob) {
  const int arrow = arrowLength(rect);
  const int track = rect.bottom - rect.top - 2 * arrow;
  const double range = static_cast<double>(bar.Max) - bar.Min;
  if (!bar.Enabled || range == 0 || track < 8) return false;
  // The thumb's length shows how much of the range a page is, as the desktop
  // host's scroll bar does; Max may lie below Min, which runs the bar upwards.
  const double page = std::max(1, bar.LargeChange);
  const int thumb = std::clamp(static_cast<int>(std::lround(track * page / (std::abs(range) + page))), 8, track);
  const double at = std::clamp((static_cast<double>(bar.Value) - bar.Min) / range, 0.0, 1.0);
  const int top = rect.top + arrow + static_cast<int>(std::lround(at * (track - thumb)));
  knob = RECT{rect.left, top, rect.right, top + thumb};
  return true;
}

void drawScrollBar(HDC dc, const host::VScrollBar& bar, RECT rect) {
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;
  SavedDc saved(dc);
  IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
  fill(dc, rect, GetSysColor(COLOR_SCROLLBAR));

  const int arrow = arrowLength(rect);
  const UINT inactive = bar.Enabled ? 0u : DFCS_INACTIVE;
  RECT up{rect.left, rect.top, rect.right, rect.top + arrow};
  RECT down{rect.left, rect.bottom - arrow, rect.right, rect.bottom};
  DrawFrameControl(dc, &up, DFC_SCROLL, DFCS_SCROLLUP | inactive);
  DrawFrameControl(dc, &down, DFC_SCROLL, DFCS_SCROLLDOWN | inactive);

  RECT knob{};
  if (!thumbRect(bar, rect, knob)) return;
  fill(dc, knob, GetSysColor(COLOR_BTNFACE));
  DrawEdge(dc, &knob, EDGE_RAISED, BF_RECT);
}

void drawControl(HDC dc, const Control& control, const RECT& rect) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  switch (control.Kind) {
    case ControlKind::Label: drawLabel(dc, static_cast<const host::Label&>(control), rect); break;
    case ControlKind::Image: drawPicture(dc, static_cast<const host::Image&>(control), rect); break;
    case ControlKind::CheckBox: drawCheckBox(dc, static_cast<const host::CheckBox&>(control), rect); break;
    case ControlKind::Frame: drawFrame(dc, static_cast<const host::Frame&>(control), rect); break;
    case ControlKind::VScrollBar: drawScrollBar(dc, static_cast<const host::VScrollBar&>(control), rect); break;
  }
}

}  // namespace

void drawSurface(const Upload& upload, HDC dc, const RECT& bounds) {
  const host::Surface& surface = upload.surface();
  SavedDc saved(dc);
  IntersectClipRect(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
  fill(dc, bounds, colorOf(surface.BackColor));
  const POINT origin{bounds.left, bounds.top};

  for (const Control* control : surface.controls()) {
    if (!control->Visible) continue;
    const host::Frame* frame = control->Container;
    if (!frame) {
      drawControl(dc, *control, pixelRect(surface, *control, origin));
      continue;
    }
    if (!frame->Visible) continue;
    // The gallery scrolls by moving the frame's children, so whatever lies
    // beyond the frame's edges must stay hidden.
    const RECT area = pixelRect(surface, *frame, origin);
    SavedDc inside(dc);
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    drawControl(dc, *control, pixelRect(surface, *control, {area.left, area.top}));
  }
}

RECT controlRect(const Upload& upload, const host::Control& control, const RECT& bounds) {
  const host::Surface& surface = upload.surface();
  const POINT origin{bounds.left, bounds.top};
  if (!control.Container) return pixelRect(surface, control, origin);
  const RECT area = pixelRect(surface, *control.Container, origin);
  return pixelRect(surface, control, {area.left, area.top});
}

host::Control* controlAt(Upload& upload, POINT point, const RECT& bounds) {
  if (!PtInRect(&bounds, point)) return nullptr;
  const std::vector<Control*> controls = upload.surface().controls();
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    Control* control = *it;
    if (!control->Visible) continue;
    if (const host::Frame* frame = control->Container) {
      if (!frame->Visible) continue;
      const RECT area = controlRect(upload, *frame, bounds);
      if (!PtInRect(&area, point)) continue;
    }
    const RECT rect = controlRect(upload, *control, bounds);
    if (PtInRect(&rect, point)) return control;
  }
  return nullptr;
}

ScrollPart scrollPartAt(const host::VScrollBar& bar, const RECT& rect, POINT point) {
  if (!PtInRect(&rect, point) || !bar.Enabled) return ScrollPart::None;
  const int arrow = arrowLength(rect);
  if (point.y < rect.top + arrow) return ScrollPart::LineUp;
  if (point.y >= rect.bottom - arrow) return ScrollPart::LineDown;
  RECT knob{};
  if (!thumbRect(bar, rect, knob)) return ScrollPart::None;
  if (point.y < knob.top) return ScrollPart::PageUp;
  if (point.y >= knob.bottom) return ScrollPart::PageDown;
  return ScrollPart::Thumb;
}

}  // namespace kiv::gdi
