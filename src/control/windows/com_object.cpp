// The Upload control as a COM object: its making and unmaking, its class
// information and how its failures become error information. The other faces
// are in the sources that com_control.hpp names.
#include "com_control.hpp"

#include <new>

namespace kiv::com {
namespace {

constexpr LONG kHimetricPerInch = 2540;
constexpr LONG kTwipsPerInch = 1440;

LONG twipsToHimetric(float twips) {
  return static_cast<LONG>(twips * kHimetricPerInch / kTwipsPerInch + 0.5f);
}

}  // namespace

Control::Control() : site_(*this), upload_(site_), events_(*this) {
  upload_.Initialize();
  // A script's CreateObject has no container to call InitNew or Load: the
  // control starts from its defaults, not from empty sizes and mode.
  upload_.InitProperties();
  dirty_ = false;
  extent_ = SIZEL{twipsToHimetric(upload_.surface().Width), twipsToHimetric(upload_.surface().Height)};
}

Control::~Control() {
  destroyWindow();
  frame_.reset();
  document_.reset();
  inPlaceSite_.reset();
  clientSite_.reset();
  adviseHolder_.reset();
  viewSink_.reset();
}

// ---- IProvideClassInfo2 ----
HRESULT STDMETHODCALLTYPE Control::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return typeInfoOf(__uuidof(::Upload), info);
}

HRESULT STDMETHODCALLTYPE Control::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = __uuidof(__Upload);
  return S_OK;
}

// ---- ISupportErrorInfo ----
HRESULT STDMETHODCALLTYPE Control::InterfaceSupportsErrorInfo(REFIID iid) {
  return IsEqualIID(iid, __uuidof(_Upload)) ? S_OK : S_FALSE;
}

// ---- IOleControl ----
HRESULT STDMETHODCALLTYPE Control::GetControlInfo(CONTROLINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->cb = sizeof(CONTROLINFO);
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE Control::FreezeEvents(BOOL freeze) {
  if (freeze) ++frozenEvents_;
  else if (frozenEvents_ > 0) --frozenEvents_;
  return S_OK;
}

HRESULT Control::typeInfoOf(REFGUID guid, ITypeInfo** info) {
  winapi::ComPtr<ITypeLib> library;
  const HRESULT hr = typeLibrary(library.out());
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(guid, info);
}

void Control::setErrorInfo(const std::string& message) noexcept {
  winapi::ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.out()))) return;
  try {
    const std::wstring description = widen(message);
    create->SetGUID(__uuidof(_Upload));
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    winapi::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(__uuidof(IErrorInfo), info.outVoid()))) SetErrorInfo(0, info.get());
  } catch (...) {
  }
}

HRESULT createControl(REFIID iid, void** object) noexcept {
  Control* control = nullptr;
  try {
    control = new Control();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  const HRESULT hr = control->QueryInterface(iid, object);
  control->Release();
  return hr;
}

}  // namespace kiv::com
