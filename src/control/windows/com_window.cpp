// The control's own window while it is in-place active: painting, the
// cursor, and input, which runs the form's handlers one at a time.
#include "com_control.hpp"
#include "gdi_surface.hpp"

#include <control/click_routing.hpp>

#include <algorithm>
#include <vector>

namespace kiv::com {
namespace {

constexpr const wchar_t* kWindowClass = L"KivPhotoUploadControl";

}  // namespace

template <typename Fn>
void Control::runHandler(Fn&& handler) {
  if (busy_) return;
  busy_ = true;
  stop_ = false;
  std::string failure;
  try {
    handler();
  } catch (...) {
    failure = dispatch::currentFailure().text;
  }
  busy_ = false;
  stop_ = false;
  if (window_ != nullptr) {
    InvalidateRect(window_, nullptr, FALSE);
    MSG pending;
    while (PeekMessageW(&pending, window_, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
    while (PeekMessageW(&pending, window_, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
  }
  if (!failure.empty()) {
    const std::wstring text = widen(failure);
    if (const auto reports = siteReports()) reports->CommandFailed(text.c_str());
    MessageBoxW(ownerWindow(), text.c_str(), kErrorSource, MB_OK | MB_ICONERROR);
  }
}

int& Control::windowCount() {
  static int count = 0;
  return count;
}

bool Control::windowCreating() {
  if (windowCount()++ > 0) return true;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = &Control::windowProcedure;
  windowClass.hInstance = thisModule();
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
  --windowCount();
  return false;
}

void Control::windowDestroyed() {
  if (windowCount() > 0 && --windowCount() == 0) UnregisterClassW(kWindowClass, thisModule());
}

bool Control::createWindow(HWND parent) {
  if (!windowCreating()) return false;
  HWND window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP,
                                position_.left, position_.top, position_.right - position_.left,
                                position_.bottom - position_.top, parent, nullptr, thisModule(), this);
  if (window == nullptr) {
    windowDestroyed();
    return false;
  }
  window_ = window;
  return true;
}

void Control::destroyWindow() {
  if (window_ == nullptr) return;
  HWND window = window_;
  window_ = nullptr;
  // The window must not reach this object while it is being destroyed.
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
  windowDestroyed();
}

LRESULT CALLBACK Control::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* control = reinterpret_cast<Control*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (control == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // The container destroyed its window, and this one with it.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (control->window_ == window) {
      control->window_ = nullptr;
      windowDestroyed();
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  const Hold hold(control);
  return control->onMessage(window, message, wParam, lParam);
}

RECT Control::clientRect() const {
  RECT client{};
  if (window_ != nullptr) GetClientRect(window_, &client);
  return client;
}

LRESULT Control::onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: paint(window); return 0;
    case WM_PRINTCLIENT: {
      RECT client{};
      GetClientRect(window, &client);
      try {
        gdi::drawSurface(upload_, reinterpret_cast<HDC>(wParam), client);
      } catch (...) {
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: mouseDown(point); return 0;
    case WM_LBUTTONUP: mouseUp(point); return 0;
    case WM_MOUSEWHEEL: {
      const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
      const int notches = delta / WHEEL_DELTA != 0 ? delta / WHEEL_DELTA : (delta > 0 ? 1 : -1);
      scrollBy(-notches * upload_.VScroll1.SmallChange);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        if (upload_.imgCancel.Visible && upload_.imgCancel.Enabled) runHandler([&] { upload_.imgCancel_Click(); });
        return 0;
      }
      break;
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS;
    case WM_MOUSEACTIVATE: return MA_ACTIVATE;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        setCursor();
        return TRUE;
      }
      break;
    default: break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Control::paint(HWND window) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) return;
  RECT client{};
  GetClientRect(window, &client);
  if (!IsRectEmpty(&client)) {
    // Drawn off screen first: the thumbnails would flicker under the
    // background fill while an upload repaints.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    if (memory != nullptr && bitmap != nullptr) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      try {
        gdi::drawSurface(upload_, memory, client);
      } catch (...) {
      }
      BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
  }
  EndPaint(window, &paint);
}

void Control::setCursor() {
  POINT point{};
  GetCursorPos(&point);
  ScreenToClient(window_, &point);
  const host::Control* control = gdi::controlAt(upload_, point, clientRect());
  const std::int16_t pointer = control != nullptr ? control->MousePointer : upload_.surface().MousePointer;
  // IDC_ARROW, IDC_WAIT, IDC_HAND: the narrow macros name the same cursors.
  WORD cursor = 32512;
  if (pointer == host::pointer::Hourglass) cursor = 32514;
  else if (pointer == host::pointer::Custom) cursor = 32649;
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(cursor)));
}

void Control::mouseDown(POINT point) {
  if (!uiActive_ && inPlaceSite_ != nullptr) activate(true);
  if (window_ == nullptr) return;
  if (GetFocus() != window_) SetFocus(window_);
  host::Control* control = gdi::controlAt(upload_, point, clientRect());
  pressed_ = control;
  if (control != &upload_.VScroll1) return;
  // A scroll bar acts on the press, not on the release.
  pressed_ = nullptr;
  const RECT bar = gdi::controlRect(upload_, upload_.VScroll1, clientRect());
  switch (gdi::scrollPartAt(upload_.VScroll1, bar, point)) {
    case gdi::ScrollPart::LineUp: scrollBy(-upload_.VScroll1.SmallChange); break;
    case gdi::ScrollPart::LineDown: scrollBy(upload_.VScroll1.SmallChange); break;
    case gdi::ScrollPart::PageUp: scrollBy(-upload_.VScroll1.LargeChange); break;
    case gdi::ScrollPart::PageDown: scrollBy(upload_.VScroll1.LargeChange); break;
    default: break;
  }
}

void Control::mouseUp(POINT point) {
  host::Control* pressed = pressed_;
  pressed_ = nullptr;
  host::Control* control = gdi::controlAt(upload_, point, clientRect());
  if (control == nullptr || control != pressed || !control->Enabled) return;
  const ClickAction action = clickActionFor(*control);
  if (action == ClickAction::None) return;
  const std::int16_t index = control->Index;
  runHandler([&] {
    if (action == ClickAction::UploadAll || action == ClickAction::UploadSelected)
      reportAsked(action == ClickAction::UploadSelected);
    performClick(upload_, action, index);
  });
}

// The same choice the command makes: every listed photo, or the ticked ones.
void Control::reportAsked(bool onlyTicked) {
  const auto reports = siteReports();
  if (!reports) return;
  const host::Variant::Array& files = upload_.sFiles.array();
  std::vector<std::wstring> asked;
  for (std::size_t i = 0; i < files.size() && !files[i].empty(); ++i) {
    const auto index = static_cast<std::int16_t>(i);
    const bool ticked = upload_.chkSelect.Exists(index) && upload_.chkSelect[index].Value == 1;
    if (!onlyTicked || ticked) asked.push_back(widen(files[i]));
  }
  std::vector<LPCWSTR> paths;
  for (const std::wstring& path : asked) paths.push_back(path.c_str());
  reports->PhotosAsked(static_cast<UINT>(paths.size()), paths.data());
}

void Control::scrollBy(std::int32_t delta) {
  host::VScrollBar& bar = upload_.VScroll1;
  if (!bar.Visible || !bar.Enabled || delta == 0) return;
  const std::int32_t low = std::min(bar.Min, bar.Max), high = std::max(bar.Min, bar.Max);
  const std::int64_t step = bar.Max >= bar.Min ? delta : -static_cast<std::int64_t>(delta);
  const auto value = static_cast<std::int32_t>(std::clamp<std::int64_t>(bar.Value + step, low, high));
  if (value == bar.Value) return;
  runHandler([&] {
    bar.Value = value;
    upload_.VScroll1_Change();
  });
}

bool Control::stopRequested() {
  if (stop_ || window_ == nullptr) return stop_;
  MSG pending;
  while (PeekMessageW(&pending, window_, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE))
    if (pending.wParam == VK_ESCAPE) stop_ = true;
  const RECT cancel = gdi::controlRect(upload_, upload_.imgCancel, clientRect());
  while (PeekMessageW(&pending, window_, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, PM_REMOVE)) {
    const POINT point{static_cast<short>(LOWORD(pending.lParam)), static_cast<short>(HIWORD(pending.lParam))};
    if (pending.message != WM_LBUTTONUP && upload_.imgCancel.Visible && PtInRect(&cancel, point)) stop_ = true;
  }
  return stop_;
}

void Control::repaint() {
  if (window_ != nullptr) {
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
  } else if (viewSink_ != nullptr) {
    viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
  }
}

HWND Control::ownerWindow() const {
  HWND owner = nullptr;
  if (inPlaceSite_ != nullptr && SUCCEEDED(inPlaceSite_->GetWindow(&owner)) && owner != nullptr) return owner;
  owner = nullptr;
  winapi::ComPtr<IOleWindow> window;
  if (clientSite_ != nullptr && SUCCEEDED(clientSite_->QueryInterface(__uuidof(IOleWindow), window.outVoid())) &&
      window != nullptr && FAILED(window->GetWindow(&owner)))
    owner = nullptr;
  return owner;
}

winapi::ComPtr<IUploadReports> Control::siteReports() const {
  return clientSite_ ? clientSite_.as<IUploadReports>() : winapi::ComPtr<IUploadReports>();
}

}  // namespace kiv::com
