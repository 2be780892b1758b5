// The control as an embedded object: IOleObject, in-place activation
// (IOleInPlaceObject, IOleInPlaceActiveObject) and drawing for a container
// that has no window to give it (IViewObject2).
#include "com_control.hpp"
#include "gdi_surface.hpp"

namespace kiv::com {

// ---- IOleObject ----
HRESULT STDMETHODCALLTYPE Control::SetClientSite(IOleClientSite* site) {
  const Hold hold(this);
  if (site != clientSite_.get() && window_ != nullptr) InPlaceDeactivate();
  clientSite_ = winapi::ComPtr<IOleClientSite>(site);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetClientSite(IOleClientSite** site) {
  return clientSite_.copyTo(site);
}

HRESULT STDMETHODCALLTYPE Control::Close(DWORD) {
  const Hold hold(this);
  InPlaceDeactivate();
  if (adviseHolder_ != nullptr) adviseHolder_->SendOnClose();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Control::GetClipboardData(DWORD, IDataObject** data) {
  if (data != nullptr) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Control::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
  const Hold hold(this);
  if (site != nullptr && clientSite_ == nullptr) SetClientSite(site);
  switch (verb) {
    case OLEIVERB_INPLACEACTIVATE: return activate(false);
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE: return activate(true);
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_OPEN:
    case OLEIVERB_DISCARDUNDOSTATE: return E_NOTIMPL;
    default: {
      if (verb < 0) return E_NOTIMPL;
      const HRESULT hr = activate(true);
      return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
    }
  }
}

HRESULT STDMETHODCALLTYPE Control::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs != nullptr) *verbs = nullptr;
  return OLE_S_USEREG;
}

HRESULT STDMETHODCALLTYPE Control::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

HRESULT STDMETHODCALLTYPE Control::GetUserType(DWORD, LPOLESTR* name) {
  if (name != nullptr) *name = nullptr;
  return OLE_S_USEREG;
}

HRESULT STDMETHODCALLTYPE Control::SetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  extent_ = *size;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::Advise(IAdviseSink* sink, DWORD* connection) {
  if (sink == nullptr || connection == nullptr) return E_POINTER;
  if (adviseHolder_ == nullptr) {
    const HRESULT hr = CreateOleAdviseHolder(adviseHolder_.out());
    if (FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(sink, connection);
}

HRESULT STDMETHODCALLTYPE Control::Unadvise(DWORD connection) {
  if (adviseHolder_ == nullptr) return OLE_E_NOCONNECTION;
  return adviseHolder_->Unadvise(connection);
}

HRESULT STDMETHODCALLTYPE Control::EnumAdvise(IEnumSTATDATA** advises) {
  if (advises == nullptr) return E_POINTER;
  *advises = nullptr;
  if (adviseHolder_ == nullptr) return E_FAIL;
  return adviseHolder_->EnumAdvise(advises);
}

HRESULT STDMETHODCALLTYPE Control::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = 0;
  if (aspect != DVASPECT_CONTENT) return S_OK;
  *status = kMiscStatus;
  return S_OK;
}

// ---- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject ----
HRESULT STDMETHODCALLTYPE Control::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE Control::InPlaceDeactivate() {
  const Hold hold(this);
  if (inPlaceSite_ == nullptr) return S_OK;
  UIDeactivate();
  destroyWindow();
  {
    const winapi::ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    site->OnInPlaceDeactivate();
  }
  frame_.reset();
  document_.reset();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::UIDeactivate() {
  const Hold hold(this);
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (document_ != nullptr) document_->SetActiveObject(nullptr, nullptr);
  if (frame_ != nullptr) frame_->SetActiveObject(nullptr, nullptr);
  if (inPlaceSite_ != nullptr) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::SetObjectRects(LPCRECT position, LPCRECT) {
  if (position == nullptr) return E_POINTER;
  position_ = *position;
  if (window_ != nullptr)
    SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

// ---- IViewObject2 ----
HRESULT STDMETHODCALLTYPE Control::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                        LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                        ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (dc == nullptr || bounds == nullptr) return E_INVALIDARG;
  const Hold hold(this);
  try {
    gdi::drawSurface(upload_, dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
  } catch (...) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** palette) {
  if (palette != nullptr) *palette = nullptr;
  return S_FALSE;
}

HRESULT STDMETHODCALLTYPE Control::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze != nullptr) *freeze = 0;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Control::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  if (sink != nullptr) sink->AddRef();
  viewSink_ = winapi::ComPtr<IAdviseSink>(sink);
  viewAspects_ = aspects;
  viewFlags_ = flags;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects != nullptr) *aspects = viewAspects_;
  if (flags != nullptr) *flags = viewFlags_;
  if (sink != nullptr) viewSink_.copyTo(sink);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---- In-place activation ----
HRESULT Control::activate(bool userInterface) {
  if (clientSite_ == nullptr) return E_UNEXPECTED;
  if (inPlaceSite_ == nullptr) {
    winapi::ComPtr<IOleInPlaceSite> site;
    if (FAILED(clientSite_->QueryInterface(__uuidof(IOleInPlaceSite), site.outVoid())) || site == nullptr)
      return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlaceSite_ = std::move(site);
    inPlaceSite_->OnInPlaceActivate();
  }
  bool becameVisible = false;
  if (window_ == nullptr) {
    HWND parent = nullptr;
    if (FAILED(inPlaceSite_->GetWindow(&parent)) || parent == nullptr) {
      InPlaceDeactivate();
      return E_FAIL;
    }
    frame_.reset();
    document_.reset();
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    if (FAILED(inPlaceSite_->GetWindowContext(frame_.out(), document_.out(), &position, &clip, &frameInfo)) ||
        IsRectEmpty(&position)) {
      const host::Surface& surface = upload_.surface();
      position = RECT{0, 0, static_cast<LONG>(surface.Width / host::scale::TwipsPerPixel),
                      static_cast<LONG>(surface.Height / host::scale::TwipsPerPixel)};
    }
    position_ = position;
    if (!createWindow(parent)) {
      InPlaceDeactivate();
      return E_FAIL;
    }
    becameVisible = true;
  } else if (!IsWindowVisible(window_)) {
    ShowWindow(window_, SW_SHOWNA);
    becameVisible = true;
  }
  if (userInterface && !uiActive_ && inPlaceSite_ != nullptr) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
    if (window_ != nullptr && GetFocus() != window_) SetFocus(window_);
    IOleInPlaceActiveObject* active = this;
    if (frame_ != nullptr) {
      frame_->SetActiveObject(active, nullptr);
      frame_->SetBorderSpace(nullptr);
    }
    if (document_ != nullptr) document_->SetActiveObject(active, nullptr);
  }
  // The classic control hears Show whenever it comes into view.
  if (!becameVisible) return S_OK;
  const HRESULT hr = guardedCall([&] { upload_.Show(); });
  // Show makes the commands, the hint and the scroll bar visible after its
  // last refresh; painted only then would they wait for the first input.
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
  return hr;
}

}  // namespace kiv::com
