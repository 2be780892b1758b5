#pragma once

// The Upload control as a COM object, declared once for the sources that
// make it: com_object.cpp (the object, its class information and errors),
// com_dispatch.cpp (IDispatch and the _Upload accessors),
// com_persistence.cpp (property bags and streams), com_events.cpp
// (connection points), com_embedding.cpp (OLE embedding, in-place activation
// and drawing) and com_window.cpp (the control's window and input).

#include "com_server.hpp"

#include <control/dispatch.hpp>
#include <control/typelib.hpp>
#include <control/upload.hpp>
#include <platform/host/text.hpp>

#include <olectl.h>

#include "kivPhotoUpload_idl.h"

#include <map>
#include <string>

namespace kiv::com {

namespace dispid = typelib::dispid;

// Names the control in error information and message boxes.
constexpr const wchar_t* kErrorSource = L"KIVPhotoUpload";

class Control;

// The CloseApp source. A part of the control: its references are the
// control's.
class EventPoint final : public IConnectionPoint {
 public:
  explicit EventPoint(Control& owner) : owner_(owner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return winapi::queryInterface<IConnectionPoint>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  // Each sink advised when the event starts hears it, also when one of them
  // unadvises another or releases the control meanwhile.
  void fire(DISPID event);

 private:
  Control& owner_;
  std::map<DWORD, winapi::ComPtr<IDispatch>> sinks_;
  DWORD nextCookie_ = 1;
};

class Control final
    : public winapi::Object<Control, ModuleCounted, _Upload, winapi::Alias<IDispatch, _Upload>,
                            IConnectionPointContainer, IProvideClassInfo2,
                            winapi::Alias<IProvideClassInfo, IProvideClassInfo2>, IPersistPropertyBag,
                            IPersistStreamInit, winapi::Alias<IPersist, IPersistPropertyBag>, ISupportErrorInfo,
                            IOleObject, IOleInPlaceObject, winapi::Alias<IOleWindow, IOleInPlaceObject>,
                            IOleInPlaceActiveObject, IViewObject2, winapi::Alias<IViewObject, IViewObject2>,
                            IOleControl> {
 public:
  Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // ---- IDispatch ----
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override;

  // ---- _Upload: every accessor goes through Invoke's path ----
  HRESULT STDMETHODCALLTYPE get_arrString(VARIANT* v) override;
  HRESULT STDMETHODCALLTYPE put_arrString(VARIANT v) override;
  HRESULT STDMETHODCALLTYPE putref_arrString(VARIANT v) override;
  HRESULT STDMETHODCALLTYPE get_oFs(IDispatch** v) override;
  HRESULT STDMETHODCALLTYPE putref_oFs(IDispatch* v) override;
  HRESULT STDMETHODCALLTYPE get_strHTML(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_strHTML(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_oFolder(IDispatch** v) override;
  HRESULT STDMETHODCALLTYPE putref_oFolder(IDispatch* v) override;
  HRESULT STDMETHODCALLTYPE get_oFolders(IDispatch** v) override;
  HRESULT STDMETHODCALLTYPE putref_oFolders(IDispatch* v) override;
  HRESULT STDMETHODCALLTYPE get_oSubFolder(IDispatch** v) override;
  HRESULT STDMETHODCALLTYPE putref_oSubFolder(IDispatch* v) override;
  HRESULT STDMETHODCALLTYPE get_oFile(IDispatch** v) override;
  HRESULT STDMETHODCALLTYPE putref_oFile(IDispatch* v) override;
  HRESULT STDMETHODCALLTYPE get_sFiles(VARIANT* v) override;
  HRESULT STDMETHODCALLTYPE put_sFiles(VARIANT v) override;
  HRESULT STDMETHODCALLTYPE putref_sFiles(VARIANT v) override;
  HRESULT STDMETHODCALLTYPE kivGetFiles() override;
  HRESULT STDMETHODCALLTYPE kivFTPUpload(BSTR* file, VARIANT_BOOL* ok) override;
  HRESULT STDMETHODCALLTYPE kivResizeImages(BSTR* file, VARIANT_BOOL* ok) override;
  HRESULT STDMETHODCALLTYPE get_IMAGEHEIGHT(short* v) override;
  HRESULT STDMETHODCALLTYPE put_IMAGEHEIGHT(short v) override;
  HRESULT STDMETHODCALLTYPE get_IMAGEWIDTH(short* v) override;
  HRESULT STDMETHODCALLTYPE put_IMAGEWIDTH(short v) override;
  HRESULT STDMETHODCALLTYPE get_VehicleID(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_VehicleID(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_UserID(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_UserID(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_CompanyID(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_CompanyID(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_KIVUser(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_KIVUser(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_KIVPassword(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_KIVPassword(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_KIVType(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_KIVType(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_KIVFTP(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_KIVFTP(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_KIVWEB(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_KIVWEB(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_VIN(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_VIN(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_FullPath(BSTR* v) override;
  HRESULT STDMETHODCALLTYPE put_FullPath(BSTR v) override;
  HRESULT STDMETHODCALLTYPE get_Primary(VARIANT_BOOL* v) override;
  HRESULT STDMETHODCALLTYPE put_Primary(VARIANT_BOOL v) override;
  HRESULT STDMETHODCALLTYPE get_Prefered(VARIANT_BOOL* v) override;
  HRESULT STDMETHODCALLTYPE put_Prefered(VARIANT_BOOL v) override;

  // ---- IConnectionPointContainer ----
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // ---- IProvideClassInfo2 ----
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

  // ---- IPersist, IPersistPropertyBag, IPersistStreamInit ----
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL) override;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

  // ---- ISupportErrorInfo ----
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // ---- IOleObject ----
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* name) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // ---- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject ----
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

  // ---- IViewObject2 ----
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                                 LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** palette) override;
  HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD* freeze) override;
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;

  // ---- IOleControl ----
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

 private:
  friend Object;
  friend class EventPoint;

  // The control's container, as the control sees it.
  class Site final : public host::Site {
   public:
    explicit Site(Control& owner) : owner_(owner) {}
    void Refresh() override { owner_.repaint(); }
    void PropertyChanged(std::string_view) override { owner_.dirty_ = true; }
    void RaiseEvent(std::string_view name) override {
      if (owner_.frozenEvents_ > 0) return;
      if (text::equalsIgnoringCase(name, "CloseApp")) owner_.events_.fire(dispid::CloseApp);
    }
    std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override {
      const std::wstring text = widen(prompt);
      const std::wstring caption = widen(title);
      HWND owner = owner_.ownerWindow();
      const UINT style = static_cast<UINT>(static_cast<std::uint16_t>(buttons)) | (owner == nullptr ? MB_TASKMODAL : 0u);
      return static_cast<std::int16_t>(MessageBoxW(owner, text.c_str(), caption.c_str(), style));
    }
    bool StopRequested() override { return owner_.stopRequested(); }
    void PhotoSent(const std::string& path) override {
      if (const auto reports = owner_.siteReports()) reports->PhotoSent(widen(path).c_str());
    }
    void PhotoKept(const std::string& path, std::string_view reason) override {
      if (const auto reports = owner_.siteReports()) reports->PhotoKept(widen(path).c_str(), widen(reason).c_str());
    }

   private:
    Control& owner_;
  };

  // Keeps the control alive for the whole of a call: a sink may release it
  // from inside CloseApp.
  class Hold {
   public:
    explicit Hold(Control* control) : control_(control) { control_->AddRef(); }
    ~Hold() { control_->Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    Control* control_;
  };

  ~Control();

  static constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                       OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

  // ---- In-place activation ----
  HRESULT activate(bool userInterface);

  // ---- The control's window and input ----
  static int& windowCount();
  // The class lives only while windows of it do: a class left registered when
  // the library unloads would point at code that is gone.
  static bool windowCreating();
  static void windowDestroyed();
  bool createWindow(HWND parent);
  void destroyWindow();
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  RECT clientRect() const;
  LRESULT onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void paint(HWND window);
  void setCursor();
  void mouseDown(POINT point);
  void mouseUp(POINT point);
  // Tells the container which photos an upload command is about to ask for.
  void reportAsked(bool onlyTicked);
  // Moves the gallery by delta in the direction the bar runs, within its range.
  void scrollBy(std::int32_t delta);
  // One event at a time, as on the classic form: input that arrives while a
  // handler runs (an upload takes long) is dropped rather than acted on later.
  template <typename Fn>
  void runHandler(Fn&& handler);
  // Everything runs on the user-interface thread: the run looks at the queue
  // for the ways out, Escape and the Cancel button.
  bool stopRequested();
  void repaint();
  // Where message boxes belong: the container's window.
  HWND ownerWindow() const;
  // The container's ear for what a run sent and kept, when it has one.
  winapi::ComPtr<IUploadReports> siteReports() const;

  // ---- Calls from outside ----
  template <typename Fn>
  HRESULT guardedCall(Fn&& fn) noexcept {
    const Hold hold(this);
    try {
      fn();
      return S_OK;
    } catch (...) {
      const dispatch::Failure failure = dispatch::currentFailure();
      setErrorInfo(failure.text);
      return static_cast<HRESULT>(failure.status);
    }
  }
  std::string serialised();
  static HRESULT typeInfoOf(REFGUID guid, ITypeInfo** info);
  static void setErrorInfo(const std::string& message) noexcept;

  // ---- The dispatch bridge ----
  // The one path of every member access, late or early bound.
  HRESULT perform(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* exception,
                  UINT* argumentError) noexcept;
  static void writeBack(VARIANTARG& argument, const host::Variant& value);
  // Early-bound calls: arguments in declaration order; an exception becomes
  // its status and the thread's error information.
  HRESULT vtableCall(DISPID id, WORD flags, VARIANTARG* args, UINT count, VARIANT* result);
  HRESULT getAs(DISPID id, VARTYPE type, VARIANT& out);
  HRESULT getVariant(DISPID id, VARIANT* out);
  HRESULT getText(DISPID id, BSTR* out);
  HRESULT getShort(DISPID id, short* out);
  HRESULT getBool(DISPID id, VARIANT_BOOL* out);
  HRESULT getObject(DISPID id, IDispatch** out);
  HRESULT put(DISPID id, WORD flags, VARIANT value);
  HRESULT putText(DISPID id, BSTR value);
  HRESULT putShort(DISPID id, short value);
  HRESULT putBool(DISPID id, VARIANT_BOOL value);
  HRESULT putObject(DISPID id, IDispatch* value);
  HRESULT fileMethod(DISPID id, BSTR* file, VARIANT_BOOL* ok);

  Site site_;
  Upload upload_;
  EventPoint events_;
  bool dirty_ = false;

  winapi::ComPtr<IOleClientSite> clientSite_;
  winapi::ComPtr<IOleInPlaceSite> inPlaceSite_;
  winapi::ComPtr<IOleInPlaceFrame> frame_;
  winapi::ComPtr<IOleInPlaceUIWindow> document_;
  winapi::ComPtr<IOleAdviseHolder> adviseHolder_;
  winapi::ComPtr<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
  SIZEL extent_{};
  RECT position_{};
  HWND window_ = nullptr;  // the control's own, while in-place active
  bool uiActive_ = false;
  bool busy_ = false;  // a handler runs
  bool stop_ = false;  // Escape or Cancel during the running handler
  host::Control* pressed_ = nullptr;
  int frozenEvents_ = 0;
};

}  // namespace kiv::com
