#include "container.hpp"

#include <filesystem>

#include <olectl.h>

#include <platform/windows/com_base.hpp>

namespace kiv::win32 {

constexpr DISPID kCloseApp = 1;

HRESULT Container::QueryInterface(REFIID iid, void** object) {
  using winapi::Alias;
  return winapi::queryInterface<IOleClientSite, Alias<IOleWindow, IOleInPlaceSite>, IOleInPlaceSite,
                                Alias<IOleInPlaceUIWindow, IOleInPlaceFrame>, IOleInPlaceFrame, IDispatch,
                                IUploadReports>(
      this, iid, object);
}

HRESULT Container::PhotoSent(LPCWSTR path) {
  if (path == nullptr) return E_POINTER;
  try {
    sent_.insert(path);
    kept_.erase(path);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Container::PhotoKept(LPCWSTR path, LPCWSTR reason) {
  if (path == nullptr) return E_POINTER;
  try {
    kept_[path] = reason != nullptr ? reason : L"";
    // Why, where the window says what happens; the control's box follows a failure.
    if (statusText) statusText(std::filesystem::path(path).filename().wstring() + L": " + kept_[path]);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Container::PhotosAsked(UINT count, const LPCWSTR* paths) {
  if (count > 0 && paths == nullptr) return E_POINTER;
  try {
    for (UINT i = 0; i < count; ++i)
      if (paths[i] != nullptr) asked_.insert(paths[i]);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  askedNothing_ = count == 0;
  return S_OK;
}

HRESULT Container::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT Container::GetContainer(IOleContainer** container) {
  if (container != nullptr) *container = nullptr;
  return E_NOINTERFACE;
}

HRESULT Container::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return S_OK;
}

HRESULT Container::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                    RECT* clip, OLEINPLACEFRAMEINFO* info) {
  if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || info == nullptr)
    return E_POINTER;
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *document = nullptr;
  *position = place_;
  *clip = place_;
  info->cb = sizeof(OLEINPLACEFRAMEINFO);
  info->fMDIApp = FALSE;
  info->hwndFrame = window_;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

HRESULT Container::OnInPlaceDeactivate() {
  SetActiveObject(nullptr, nullptr);
  return S_OK;
}

HRESULT Container::OnPosRectChange(LPCRECT place) {
  if (place == nullptr) return E_POINTER;
  place_ = *place;
  return S_OK;
}

HRESULT Container::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  active_ = winapi::ComPtr<IOleInPlaceActiveObject>(object);
  return S_OK;
}

HRESULT Container::SetStatusText(LPCOLESTR text) {
  if (statusText) statusText(text != nullptr ? std::wstring(text) : std::wstring());
  return S_OK;
}

HRESULT Container::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT Container::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT Container::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; ids != nullptr && i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

// A dealer application runs its controls in user mode, never in a designer.
HRESULT Container::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
  if ((flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
  VariantInit(result);
  switch (id) {
    case DISPID_AMBIENT_USERMODE:
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_TRUE;
      return S_OK;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
      result->vt = VT_BOOL;
      result->boolVal = VARIANT_FALSE;
      return S_OK;
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT EventSink::QueryInterface(REFIID iid, void** object) {
  // The event interface is known only when the sink is made.
  return winapi::queryInterface<IDispatch>(this, IsEqualIID(iid, events_) ? IID_IDispatch : iid, object);
}

HRESULT EventSink::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; ids != nullptr && i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  if (id == kCloseApp && closeApp_) closeApp_();
  return S_OK;
}

}  // namespace kiv::win32
