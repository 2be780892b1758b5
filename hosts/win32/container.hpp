#pragma once

// The container side of the control's in-place activation: the site the
// control asks for its window, its place and its frame, and the sink its
// CloseApp event reaches. Both live as long as the main window and are never
// freed through their reference counts.

#include <windows.h>
#include <ole2.h>
#include <oleidl.h>

#include <platform/windows/com_ptr.hpp>

#include "kivPhotoUpload_idl.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace kiv::win32 {

class Container final : public IOleClientSite,
                        public IOleInPlaceSite,
                        public IOleInPlaceFrame,
                        public IDispatch,
                        public IUploadReports {
 public:
  Container() = default;
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  void attach(HWND window) { window_ = window; }
  void setPlace(const RECT& place) { place_ = place; }
  const RECT& place() const { return place_; }
  IOleInPlaceActiveObject* activeObject() const { return active_.get(); }
  // The control's status texts go where the host's own go.
  std::function<void(const std::wstring&)> statusText;
  // What the control reported of its upload runs: the photos asked for, sent,
  // and kept with the reason, and whether a command failed.
  const std::set<std::wstring>& asked() const { return asked_; }
  const std::set<std::wstring>& sent() const { return sent_; }
  const std::map<std::wstring, std::wstring>& kept() const { return kept_; }
  bool commandFailed() const { return commandFailed_; }
  // True once after a command that asked for no photo: Upload Selected with
  // nothing ticked.
  bool takeAskedNothing() { return std::exchange(askedNothing_, false); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, for both the site and the frame
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, RECT* position,
                                             RECT* clip, OLEINPLACEFRAMEINFO* info) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT place) override;

  // IOleInPlaceUIWindow, IOleInPlaceFrame: no menus or tool space to share
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override {
    return widths == nullptr ? S_OK : INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override;
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR text) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the ambient properties
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override;

  // IUploadReports
  HRESULT STDMETHODCALLTYPE PhotoSent(LPCWSTR path) override;
  HRESULT STDMETHODCALLTYPE PhotoKept(LPCWSTR path, LPCWSTR reason) override;
  HRESULT STDMETHODCALLTYPE PhotosAsked(UINT count, const LPCWSTR* paths) override;
  HRESULT STDMETHODCALLTYPE CommandFailed(LPCWSTR) override {
    commandFailed_ = true;
    askedNothing_ = false;  // no CloseApp follows a failed command
    return S_OK;
  }

 private:
  HWND window_ = nullptr;
  RECT place_{};
  std::set<std::wstring> asked_;
  std::set<std::wstring> sent_;
  bool askedNothing_ = false;
  bool commandFailed_ = false;
  std::map<std::wstring, std::wstring> kept_;
  winapi::ComPtr<IOleInPlaceActiveObject> active_;
  ULONG refs_ = 1;
};

// Receives the control's events (__Upload) and hands CloseApp on.
class EventSink final : public IDispatch {
 public:
  EventSink(REFIID events, std::function<void()> closeApp) : events_(events), closeApp_(std::move(closeApp)) {}
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  IID events_;
  std::function<void()> closeApp_;
  ULONG refs_ = 1;
};

}  // namespace kiv::win32
