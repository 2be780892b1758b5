// The Upload control as a COM object: late and early binding over the member
// table of dispatch.cpp, the CloseApp event to advised sinks, class
// information, persistence in property bags and streams, and the visual
// control: embedding, in-place activation in a window of its own, and drawing.
#include "com_server.hpp"
#include "gdi_surface.hpp"

#include <control/click_routing.hpp>
#include <control/dispatch.hpp>
#include <control/typelib.hpp>
#include <control/upload.hpp>
#include <platform/host/text.hpp>

#include <olectl.h>

#include "kivPhotoUpload_idl.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <new>
#include <vector>

namespace kiv::com {
namespace {

using host::Variant;
namespace dispid = typelib::dispid;

constexpr std::uint32_t kStreamMagic = 0x5056494Bu;  // "KIVP"
constexpr std::uint32_t kStreamVersion = 1;
constexpr const wchar_t* kErrorSource = L"KIVPhotoUpload";

bool isObjectMember(const dispatch::Member& m) {
  switch (m.type) {
    case dispatch::Type::FileSystemObject:
    case dispatch::Type::Folder:
    case dispatch::Type::Folders:
    case dispatch::Type::File: return true;
    default: return false;
  }
}

bool reportedThroughException(std::uint32_t status) {
  return (status & 0xFFFF0000u) == dispatch::kControlErrorBase || status == dispatch::kFailed;
}

// A bag of the container's, as the control's ReadProperties and WriteProperties see it.
class ContainerBag final : public host::PropertyBag {
 public:
  ContainerBag(IPropertyBag* bag, IErrorLog* log) : bag_(bag), log_(log) {}

  Variant ReadProperty(std::string_view name, const Variant& defaultValue) override {
    key_ = name;
    const std::wstring wide = widen(name);
    VARIANT stored;
    VariantInit(&stored);
    const HRESULT hr = bag_->Read(wide.c_str(), &stored, log_);
    if (FAILED(hr)) {
      VariantClear(&stored);
      return defaultValue;
    }
    Variant value;
    const HRESULT converted = fromVariant(stored, false, value);
    VariantClear(&stored);
    if (FAILED(converted)) throw Error(errc::TypeMismatch, "the stored value has a type the control cannot use");
    return value;
  }

  void WriteProperty(std::string_view name, const Variant& value, const Variant&) override {
    key_ = name;
    VARIANT stored;
    HRESULT hr = toVariant(value, &stored);
    if (SUCCEEDED(hr)) hr = bag_->Write(widen(name).c_str(), &stored);
    VariantClear(&stored);
    if (FAILED(hr)) throw Error(errc::InvalidProcedureCall, "the container's property bag could not store it");
  }

  const std::string& key() const { return key_; }

 private:
  IPropertyBag* bag_;
  IErrorLog* log_;
  std::string key_;
};

// The stream form: magic, version, count, then per property its name and a
// tagged value, all little-endian.
class StreamBag final : public host::MemoryPropertyBag {
 public:
  void WriteProperty(std::string_view name, const Variant& value, const Variant&) override {
    values_[std::string(name)] = value;
    writeOrder_.emplace_back(name);
  }

  std::string serialise() const {
    std::string out;
    put32(out, kStreamMagic);
    put32(out, kStreamVersion);
    put32(out, static_cast<std::uint32_t>(writeOrder_.size()));
    for (const std::string& name : writeOrder_) {
      putText(out, name);
      const Variant& v = values_.at(name);
      out.push_back(static_cast<char>(v.kind()));
      switch (v.kind()) {
        case Variant::Kind::Int16: put32(out, static_cast<std::uint16_t>(v.toInt16())); break;
        case Variant::Kind::Int32: put32(out, static_cast<std::uint32_t>(v.toInt32())); break;
        case Variant::Kind::Bool: out.push_back(v.toBool() ? 1 : 0); break;
        case Variant::Kind::Double: putText(out, host::numberText(v.toDouble())); break;
        case Variant::Kind::String: putText(out, v.toString()); break;
        case Variant::Kind::Empty:
        case Variant::Kind::Array: break;
      }
    }
    return out;
  }

  // False when the bytes are no stream of this form.
  bool parse(const std::string& in) {
    std::size_t at = 0;
    std::uint32_t magic = 0, version = 0, count = 0;
    if (!get32(in, at, magic) || !get32(in, at, version) || !get32(in, at, count)) return false;
    if (magic != kStreamMagic || version != kStreamVersion) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::string name, textValue;
      std::uint32_t number = 0;
      if (!getText(in, at, name) || at >= in.size()) return false;
      const auto kind = static_cast<Variant::Kind>(in[at++]);
      switch (kind) {
        case Variant::Kind::Int16:
          if (!get32(in, at, number)) return false;
          set(name, Variant(static_cast<std::int16_t>(number)));
          break;
        case Variant::Kind::Int32:
          if (!get32(in, at, number)) return false;
          set(name, Variant(static_cast<std::int32_t>(number)));
          break;
        case Variant::Kind::Bool:
          if (at >= in.size()) return false;
          set(name, Variant(in[at++] != 0));
          break;
        case Variant::Kind::Double:
          if (!getText(in, at, textValue)) return false;
          set(name, Variant(host::parseNumber(textValue)));
          break;
        case Variant::Kind::String:
          if (!getText(in, at, textValue)) return false;
          set(name, Variant(std::move(textValue)));
          break;
        case Variant::Kind::Empty: set(name, Variant()); break;
        default: return false;
      }
    }
    return true;
  }

 private:
  static void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  static void putText(std::string& out, const std::string& text) {
    put32(out, static_cast<std::uint32_t>(text.size()));
    out += text;
  }
  static bool get32(const std::string& in, std::size_t& at, std::uint32_t& v) {
    if (in.size() - at < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    at += 4;
    return true;
  }
  static bool getText(const std::string& in, std::size_t& at, std::string& text) {
    std::uint32_t n = 0;
    if (!get32(in, at, n) || in.size() - at < n) return false;
    text.assign(in, at, n);
    at += n;
    return true;
  }
};

class Control;

class EventPoint final : public IConnectionPoint {
 public:
  explicit EventPoint(Control& owner) : owner_(owner) {}
  ~EventPoint() {
    for (auto& [cookie, sink] : sinks_) sink->Release();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IConnectionPoint))) {
      *object = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = __uuidof(__Upload);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;

  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(__uuidof(__Upload), reinterpret_cast<void**>(&events))) &&
        FAILED(sink->QueryInterface(__uuidof(IDispatch), reinterpret_cast<void**>(&events))))
      return CONNECT_E_CANNOTCONNECT;
    try {
      sinks_.emplace(nextCookie_, events);
    } catch (...) {
      events->Release();
      return E_OUTOFMEMORY;
    }
    *cookie = nextCookie_++;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    auto found = sinks_.find(cookie);
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = found->second;
    sinks_.erase(found);
    sink->Release();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override {
    if (connections != nullptr) *connections = nullptr;
    return E_NOTIMPL;
  }

  // Each sink advised when the event starts hears it, also when one of them
  // unadvises another or releases the control meanwhile.
  void fire(DISPID event) {
    std::vector<IDispatch*> snapshot;
    snapshot.reserve(sinks_.size());
    for (auto& [cookie, sink] : sinks_) {
      sink->AddRef();
      snapshot.push_back(sink);
    }
    for (IDispatch* sink : snapshot) {
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      sink->Invoke(event, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
      sink->Release();
    }
  }

 private:
  Control& owner_;
  std::map<DWORD, IDispatch*> sinks_;
  DWORD nextCookie_ = 1;
};

class EnumPoints final : public IEnumConnectionPoints {
 public:
  EnumPoints(IConnectionPoint* point, ULONG at) : point_(point), at_(at) {
    point_->AddRef();
    module::objectCreated();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IEnumConnectionPoints))) {
      *object = static_cast<IEnumConnectionPoints*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      point_->Release();
      delete this;
      module::objectDestroyed();
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && at_ == 0) {
      points[0] = point_;
      point_->AddRef();
      at_ = 1;
      n = 1;
    }
    if (fetched != nullptr) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool had = at_ == 0;
    at_ = 1;
    return had && count == 1 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new (std::nothrow) EnumPoints(point_, at_);
    return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~EnumPoints() = default;
  std::atomic<ULONG> refs_{1};
  IConnectionPoint* point_;
  ULONG at_;
};

constexpr const wchar_t* kWindowClass = L"KivPhotoUploadControl";
constexpr LONG kHimetricPerInch = 2540;
constexpr LONG kTwipsPerInch = 1440;

LONG twipsToHimetric(float twips) {
  return static_cast<LONG>(twips * kHimetricPerInch / kTwipsPerInch + 0.5f);
}

template <typename T>
void releaseAndClear(T*& p) {
  if (p != nullptr) {
    T* held = p;
    p = nullptr;
    held->Release();
  }
}

class Control final : public _Upload,
                      public IConnectionPointContainer,
                      public IProvideClassInfo2,
                      public IPersistPropertyBag,
                      public IPersistStreamInit,
                      public ISupportErrorInfo,
                      public IOleObject,
                      public IOleInPlaceObject,
                      public IOleInPlaceActiveObject,
                      public IViewObject2,
                      public IOleControl {
 public:
  Control() : site_(*this), upload_(site_), events_(*this) {
    upload_.Initialize();
    // A script's CreateObject has no container to call InitNew or Load: the
    // control starts from its defaults, not from empty sizes and mode.
    upload_.InitProperties();
    dirty_ = false;
    extent_ = SIZEL{twipsToHimetric(upload_.surface().Width), twipsToHimetric(upload_.surface().Height)};
    module::objectCreated();
  }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // ---- IUnknown ----
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IDispatch)) ||
        IsEqualIID(iid, __uuidof(_Upload)))
      *object = static_cast<_Upload*>(this);
    else if (IsEqualIID(iid, __uuidof(IConnectionPointContainer)))
      *object = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(iid, __uuidof(IProvideClassInfo)) || IsEqualIID(iid, __uuidof(IProvideClassInfo2)))
      *object = static_cast<IProvideClassInfo2*>(this);
    else if (IsEqualIID(iid, __uuidof(IPersistPropertyBag)))
      *object = static_cast<IPersistPropertyBag*>(this);
    else if (IsEqualIID(iid, __uuidof(IPersistStreamInit)))
      *object = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(iid, __uuidof(IPersist)))
      *object = static_cast<IPersistPropertyBag*>(this);
    else if (IsEqualIID(iid, __uuidof(ISupportErrorInfo)))
      *object = static_cast<ISupportErrorInfo*>(this);
    else if (IsEqualIID(iid, __uuidof(IOleObject)))
      *object = static_cast<IOleObject*>(this);
    else if (IsEqualIID(iid, __uuidof(IOleWindow)) || IsEqualIID(iid, __uuidof(IOleInPlaceObject)))
      *object = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(iid, __uuidof(IOleInPlaceActiveObject)))
      *object = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(iid, __uuidof(IViewObject)) || IsEqualIID(iid, __uuidof(IViewObject2)))
      *object = static_cast<IViewObject2*>(this);
    else if (IsEqualIID(iid, __uuidof(IOleControl)))
      *object = static_cast<IOleControl*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      delete this;
      module::objectDestroyed();
    }
    return left;
  }

  // ---- IDispatch ----
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfoOf(__uuidof(_Upload), info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(iid, GUID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    if (count == 0) return S_OK;
    try {
      HRESULT hr = S_OK;
      const dispatch::Member* member = dispatch::find(std::string_view(narrow(names[0], std::wcslen(names[0]))));
      ids[0] = member != nullptr ? member->id : DISPID_UNKNOWN;
      if (member == nullptr) hr = DISP_E_UNKNOWNNAME;
      for (UINT i = 1; i < count; ++i) {
        const bool parameter = member != nullptr && member->parameterCount > 0 &&
                               text::equalsIgnoringCase(narrow(names[i], std::wcslen(names[i])), member->parameterName);
        ids[i] = parameter ? 0 : DISPID_UNKNOWN;
        if (!parameter) hr = DISP_E_UNKNOWNNAME;
      }
      return hr;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override {
    if (!IsEqualIID(iid, GUID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return E_POINTER;
    return perform(id, flags, *params, result, exception, argumentError);
  }

  // ---- _Upload: every accessor goes through Invoke's path ----
  HRESULT STDMETHODCALLTYPE get_arrString(VARIANT* v) override { return getVariant(dispid::arrString, v); }
  HRESULT STDMETHODCALLTYPE put_arrString(VARIANT v) override { return put(dispid::arrString, DISPATCH_PROPERTYPUT, v); }
  HRESULT STDMETHODCALLTYPE putref_arrString(VARIANT v) override { return put(dispid::arrString, DISPATCH_PROPERTYPUTREF, v); }
  HRESULT STDMETHODCALLTYPE get_oFs(IDispatch** v) override { return getObject(dispid::oFs, v); }
  HRESULT STDMETHODCALLTYPE putref_oFs(IDispatch* v) override { return putObject(dispid::oFs, v); }
  HRESULT STDMETHODCALLTYPE get_strHTML(BSTR* v) override { return getText(dispid::strHTML, v); }
  HRESULT STDMETHODCALLTYPE put_strHTML(BSTR v) override { return putText(dispid::strHTML, v); }
  HRESULT STDMETHODCALLTYPE get_oFolder(IDispatch** v) override { return getObject(dispid::oFolder, v); }
  HRESULT STDMETHODCALLTYPE putref_oFolder(IDispatch* v) override { return putObject(dispid::oFolder, v); }
  HRESULT STDMETHODCALLTYPE get_oFolders(IDispatch** v) override { return getObject(dispid::oFolders, v); }
  HRESULT STDMETHODCALLTYPE putref_oFolders(IDispatch* v) override { return putObject(dispid::oFolders, v); }
  HRESULT STDMETHODCALLTYPE get_oSubFolder(IDispatch** v) override { return getObject(dispid::oSubFolder, v); }
  HRESULT STDMETHODCALLTYPE putref_oSubFolder(IDispatch* v) override { return putObject(dispid::oSubFolder, v); }
  HRESULT STDMETHODCALLTYPE get_oFile(IDispatch** v) override { return getObject(dispid::oFile, v); }
  HRESULT STDMETHODCALLTYPE putref_oFile(IDispatch* v) override { return putObject(dispid::oFile, v); }
  HRESULT STDMETHODCALLTYPE get_sFiles(VARIANT* v) override { return getVariant(dispid::sFiles, v); }
  HRESULT STDMETHODCALLTYPE put_sFiles(VARIANT v) override { return put(dispid::sFiles, DISPATCH_PROPERTYPUT, v); }
  HRESULT STDMETHODCALLTYPE putref_sFiles(VARIANT v) override { return put(dispid::sFiles, DISPATCH_PROPERTYPUTREF, v); }
  HRESULT STDMETHODCALLTYPE kivGetFiles() override { return vtableCall(dispid::kivGetFiles, DISPATCH_METHOD, nullptr, 0, nullptr); }
  HRESULT STDMETHODCALLTYPE kivFTPUpload(BSTR* file, VARIANT_BOOL* ok) override { return fileMethod(dispid::kivFTPUpload, file, ok); }
  HRESULT STDMETHODCALLTYPE kivResizeImages(BSTR* file, VARIANT_BOOL* ok) override { return fileMethod(dispid::kivResizeImages, file, ok); }
  HRESULT STDMETHODCALLTYPE get_IMAGEHEIGHT(short* v) override { return getShort(dispid::IMAGEHEIGHT, v); }
  HRESULT STDMETHODCALLTYPE put_IMAGEHEIGHT(short v) override { return putShort(dispid::IMAGEHEIGHT, v); }
  HRESULT STDMETHODCALLTYPE get_IMAGEWIDTH(short* v) override { return getShort(dispid::IMAGEWIDTH, v); }
  HRESULT STDMETHODCALLTYPE put_IMAGEWIDTH(short v) override { return putShort(dispid::IMAGEWIDTH, v); }
  HRESULT STDMETHODCALLTYPE get_VehicleID(BSTR* v) override { return getText(dispid::VehicleID, v); }
  HRESULT STDMETHODCALLTYPE put_VehicleID(BSTR v) override { return putText(dispid::VehicleID, v); }
  HRESULT STDMETHODCALLTYPE get_UserID(BSTR* v) override { return getText(dispid::UserID, v); }
  HRESULT STDMETHODCALLTYPE put_UserID(BSTR v) override { return putText(dispid::UserID, v); }
  HRESULT STDMETHODCALLTYPE get_CompanyID(BSTR* v) override { return getText(dispid::CompanyID, v); }
  HRESULT STDMETHODCALLTYPE put_CompanyID(BSTR v) override { return putText(dispid::CompanyID, v); }
  HRESULT STDMETHODCALLTYPE get_KIVUser(BSTR* v) override { return getText(dispid::KIVUser, v); }
  HRESULT STDMETHODCALLTYPE put_KIVUser(BSTR v) override { return putText(dispid::KIVUser, v); }
  HRESULT STDMETHODCALLTYPE get_KIVPassword(BSTR* v) override { return getText(dispid::KIVPassword, v); }
  HRESULT STDMETHODCALLTYPE put_KIVPassword(BSTR v) override { return putText(dispid::KIVPassword, v); }
  HRESULT STDMETHODCALLTYPE get_KIVType(BSTR* v) override { return getText(dispid::KIVType, v); }
  HRESULT STDMETHODCALLTYPE put_KIVType(BSTR v) override { return putText(dispid::KIVType, v); }
  HRESULT STDMETHODCALLTYPE get_KIVFTP(BSTR* v) override { return getText(dispid::KIVFTP, v); }
  HRESULT STDMETHODCALLTYPE put_KIVFTP(BSTR v) override { return putText(dispid::KIVFTP, v); }
  HRESULT STDMETHODCALLTYPE get_KIVWEB(BSTR* v) override { return getText(dispid::KIVWEB, v); }
  HRESULT STDMETHODCALLTYPE put_KIVWEB(BSTR v) override { return putText(dispid::KIVWEB, v); }
  HRESULT STDMETHODCALLTYPE get_VIN(BSTR* v) override { return getText(dispid::VIN, v); }
  HRESULT STDMETHODCALLTYPE put_VIN(BSTR v) override { return putText(dispid::VIN, v); }
  HRESULT STDMETHODCALLTYPE get_FullPath(BSTR* v) override { return getText(dispid::FullPath, v); }
  HRESULT STDMETHODCALLTYPE put_FullPath(BSTR v) override { return putText(dispid::FullPath, v); }
  HRESULT STDMETHODCALLTYPE get_Primary(VARIANT_BOOL* v) override { return getBool(dispid::Primary, v); }
  HRESULT STDMETHODCALLTYPE put_Primary(VARIANT_BOOL v) override { return putBool(dispid::Primary, v); }
  HRESULT STDMETHODCALLTYPE get_Prefered(VARIANT_BOOL* v) override { return getBool(dispid::Prefered, v); }
  HRESULT STDMETHODCALLTYPE put_Prefered(VARIANT_BOOL v) override { return putBool(dispid::Prefered, v); }

  // ---- IConnectionPointContainer ----
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
    if (points == nullptr) return E_POINTER;
    *points = new (std::nothrow) EnumPoints(&events_, 0);
    return *points != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, __uuidof(__Upload))) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
  }

  // ---- IProvideClassInfo2 ----
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return typeInfoOf(__uuidof(::Upload), info);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
      *guid = GUID_NULL;
      return E_INVALIDARG;
    }
    *guid = __uuidof(__Upload);
    return S_OK;
  }

  // ---- IPersist, IPersistPropertyBag, IPersistStreamInit ----
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (clsid == nullptr) return E_POINTER;
    *clsid = __uuidof(::Upload);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitNew() override {
    return guardedCall([&] {
      upload_.InitProperties();
      dirty_ = false;
    });
  }
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override {
    if (bag == nullptr) return E_POINTER;
    ContainerBag adapter(bag, log);
    return guardedCall([&] {
      try {
        upload_.ReadProperties(adapter);
      } catch (const Error& e) {
        throw Error(e.number(), adapter.key() + ": " + e.what());
      }
      dirty_ = false;
    });
  }
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL) override {
    if (bag == nullptr) return E_POINTER;
    ContainerBag adapter(bag, nullptr);
    return guardedCall([&] {
      try {
        upload_.WriteProperties(adapter);
      } catch (const Error& e) {
        throw Error(e.number(), adapter.key() + ": " + e.what());
      }
      if (clearDirty) dirty_ = false;
    });
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override {
    if (stream == nullptr) return E_POINTER;
    return guardedCall([&] {
      std::string bytes;
      char chunk[4096];
      for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(chunk, sizeof chunk, &got);
        if (FAILED(hr)) throw Error(errc::PathFileAccessError, "the stream could not be read");
        bytes.append(chunk, got);
        if (got < sizeof chunk) break;
      }
      StreamBag bag;
      if (!bag.parse(bytes)) throw Error(errc::TypeMismatch, "the stream holds no saved properties of this control");
      upload_.ReadProperties(bag);
      dirty_ = false;
    });
  }
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) override {
    if (stream == nullptr) return E_POINTER;
    return guardedCall([&] {
      const std::string bytes = serialised();
      ULONG written = 0;
      if (FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) || written != bytes.size())
        throw Error(errc::DiskFull, "the stream could not be written");
      if (clearDirty) dirty_ = false;
    });
  }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
    if (size == nullptr) return E_POINTER;
    return guardedCall([&] { size->QuadPart = serialised().size(); });
  }

  // ---- ISupportErrorInfo ----
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, __uuidof(_Upload)) ? S_OK : S_FALSE;
  }

  // ---- IOleObject ----
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    const Hold hold(this);
    if (site != clientSite_ && window_ != nullptr) InPlaceDeactivate();
    if (site != nullptr) site->AddRef();
    releaseAndClear(clientSite_);
    clientSite_ = site;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
    if (site == nullptr) return E_POINTER;
    *site = clientSite_;
    if (clientSite_ != nullptr) clientSite_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override {
    const Hold hold(this);
    InPlaceDeactivate();
    if (adviseHolder_ != nullptr) adviseHolder_->SendOnClose();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override {
    if (data != nullptr) *data = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override {
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
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override {
    if (verbs != nullptr) *verbs = nullptr;
    return OLE_S_USEREG;
  }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* name) override {
    if (name != nullptr) *name = nullptr;
    return OLE_S_USEREG;
  }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    extent_ = *size;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override {
    if (size == nullptr) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override {
    if (sink == nullptr || connection == nullptr) return E_POINTER;
    if (adviseHolder_ == nullptr) {
      const HRESULT hr = CreateOleAdviseHolder(&adviseHolder_);
      if (FAILED(hr)) return hr;
    }
    return adviseHolder_->Advise(sink, connection);
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override {
    if (adviseHolder_ == nullptr) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(connection);
  }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override {
    if (advises == nullptr) return E_POINTER;
    *advises = nullptr;
    if (adviseHolder_ == nullptr) return E_FAIL;
    return adviseHolder_->EnumAdvise(advises);
  }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override {
    if (status == nullptr) return E_POINTER;
    *status = 0;
    if (aspect != DVASPECT_CONTENT) return S_OK;
    *status = kMiscStatus;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // ---- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject ----
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
    const Hold hold(this);
    if (inPlaceSite_ == nullptr) return S_OK;
    UIDeactivate();
    if (window_ != nullptr) {
      HWND window = window_;
      window_ = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      DestroyWindow(window);
      windowDestroyed();
    }
    IOleInPlaceSite* site = inPlaceSite_;
    inPlaceSite_ = nullptr;
    site->OnInPlaceDeactivate();
    site->Release();
    releaseAndClear(frame_);
    releaseAndClear(document_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UIDeactivate() override {
    const Hold hold(this);
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (document_ != nullptr) document_->SetActiveObject(nullptr, nullptr);
    if (frame_ != nullptr) frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_ != nullptr) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override {
    if (position == nullptr) return E_POINTER;
    position_ = *position;
    if (window_ != nullptr)
      SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

  // ---- IViewObject2 ----
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                                 LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
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
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** palette) override {
    if (palette != nullptr) *palette = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD* freeze) override {
    if (freeze != nullptr) *freeze = 0;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override {
    if (sink != nullptr) sink->AddRef();
    releaseAndClear(viewSink_);
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override {
    if (aspects != nullptr) *aspects = viewAspects_;
    if (flags != nullptr) *flags = viewFlags_;
    if (sink != nullptr) {
      *sink = viewSink_;
      if (viewSink_ != nullptr) viewSink_->AddRef();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
    return GetExtent(aspect, size);
  }

  // ---- IOleControl ----
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override {
    if (info == nullptr) return E_POINTER;
    info->cb = sizeof(CONTROLINFO);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override {
    if (freeze) ++frozenEvents_;
    else if (frozenEvents_ > 0) --frozenEvents_;
    return S_OK;
  }

 private:
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

  ~Control() {
    if (window_ != nullptr) {
      HWND window = window_;
      window_ = nullptr;
      // The window must not reach this object while it is being destroyed.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      DestroyWindow(window);
      windowDestroyed();
    }
    releaseAndClear(frame_);
    releaseAndClear(document_);
    releaseAndClear(inPlaceSite_);
    releaseAndClear(clientSite_);
    releaseAndClear(adviseHolder_);
    releaseAndClear(viewSink_);
  }

  static constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                       OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

  // ---- In-place activation and the control's window ----

  HRESULT activate(bool userInterface) {
    if (clientSite_ == nullptr) return E_UNEXPECTED;
    if (inPlaceSite_ == nullptr) {
      IOleInPlaceSite* site = nullptr;
      if (FAILED(clientSite_->QueryInterface(__uuidof(IOleInPlaceSite), reinterpret_cast<void**>(&site))) ||
          site == nullptr)
        return E_NOINTERFACE;
      if (site->CanInPlaceActivate() != S_OK) {
        site->Release();
        return E_FAIL;
      }
      inPlaceSite_ = site;
      inPlaceSite_->OnInPlaceActivate();
    }
    bool becameVisible = false;
    if (window_ == nullptr) {
      HWND parent = nullptr;
      if (FAILED(inPlaceSite_->GetWindow(&parent)) || parent == nullptr) {
        InPlaceDeactivate();
        return E_FAIL;
      }
      releaseAndClear(frame_);
      releaseAndClear(document_);
      RECT position{}, clip{};
      OLEINPLACEFRAMEINFO frameInfo{};
      frameInfo.cb = sizeof frameInfo;
      if (FAILED(inPlaceSite_->GetWindowContext(&frame_, &document_, &position, &clip, &frameInfo)) ||
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
    if (becameVisible) return guardedCall([&] { upload_.Show(); });
    return S_OK;
  }

  static int& windowCount() {
    static int count = 0;
    return count;
  }

  // The class lives only while windows of it do: a class left registered when
  // the library unloads would point at code that is gone.
  static bool windowCreating() {
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
  static void windowDestroyed() {
    if (windowCount() > 0 && --windowCount() == 0) UnregisterClassW(kWindowClass, thisModule());
  }

  bool createWindow(HWND parent) {
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

  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

  RECT clientRect() const {
    RECT client{};
    if (window_ != nullptr) GetClientRect(window_, &client);
    return client;
  }

  LRESULT onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

  void paint(HWND window) {
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

  void setCursor() {
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

  void mouseDown(POINT point) {
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

  void mouseUp(POINT point) {
    host::Control* pressed = pressed_;
    pressed_ = nullptr;
    host::Control* control = gdi::controlAt(upload_, point, clientRect());
    if (control == nullptr || control != pressed || !control->Enabled) return;
    const ClickAction action = clickActionFor(*control);
    if (action == ClickAction::None) return;
    const std::int16_t index = control->Index;
    runHandler([&] { performClick(upload_, action, index); });
  }

  // Moves the gallery by delta in the direction the bar runs, within its range.
  void scrollBy(std::int32_t delta) {
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

  // One event at a time, as on the classic form: input that arrives while a
  // handler runs (an upload takes long) is dropped rather than acted on later.
  template <typename Fn>
  void runHandler(Fn&& handler) {
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
      MessageBoxW(ownerWindow(), text.c_str(), kErrorSource, MB_OK | MB_ICONERROR);
    }
  }

  // Everything runs on the user-interface thread: the run looks at the queue
  // for the ways out, Escape and the Cancel button.
  bool stopRequested() {
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

  void repaint() {
    if (window_ != nullptr) {
      InvalidateRect(window_, nullptr, FALSE);
      UpdateWindow(window_);
    } else if (viewSink_ != nullptr) {
      viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
    }
  }

  // Where message boxes belong: the container's window.
  HWND ownerWindow() const {
    HWND owner = nullptr;
    if (inPlaceSite_ != nullptr && SUCCEEDED(inPlaceSite_->GetWindow(&owner)) && owner != nullptr) return owner;
    owner = nullptr;
    IOleWindow* window = nullptr;
    if (clientSite_ != nullptr &&
        SUCCEEDED(clientSite_->QueryInterface(__uuidof(IOleWindow), reinterpret_cast<void**>(&window))) &&
        window != nullptr) {
      if (FAILED(window->GetWindow(&owner))) owner = nullptr;
      window->Release();
    }
    return owner;
  }

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

  std::string serialised() {
    StreamBag bag;
    upload_.WriteProperties(bag);
    return bag.serialise();
  }

  static HRESULT typeInfoOf(REFGUID guid, ITypeInfo** info) {
    ITypeLib* library = nullptr;
    HRESULT hr = typeLibrary(&library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(guid, info);
    library->Release();
    return hr;
  }

  static void setErrorInfo(const std::string& message) noexcept {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;
    try {
      const std::wstring description = widen(message);
      create->SetGUID(__uuidof(_Upload));
      create->SetSource(const_cast<LPOLESTR>(kErrorSource));
      create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
      IErrorInfo* info = nullptr;
      if (SUCCEEDED(create->QueryInterface(__uuidof(IErrorInfo), reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
      }
    } catch (...) {
    }
    create->Release();
  }

  // The one path of every member access, late or early bound.
  HRESULT perform(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* exception,
                  UINT* argumentError) noexcept {
    const Hold hold(this);
    const dispatch::Member* member = dispatch::find(static_cast<dispatch::DispId>(id));
    if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
    const UINT count = params.cArgs;
    if (count > 0 && params.rgvarg == nullptr) return E_POINTER;
    auto argument = [&](UINT i) -> VARIANTARG& { return params.rgvarg[count - 1 - i]; };

    dispatch::Kind kind;
    const bool putting = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (putting) {
      if (params.cNamedArgs != 1 || params.rgdispidNamedArgs == nullptr ||
          params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_PARAMNOTFOUND;
      const VARTYPE valueType = count > 0 ? static_cast<VARTYPE>(argument(count - 1).vt & ~VT_BYREF) : VARTYPE{VT_EMPTY};
      const bool objectValue = valueType == VT_DISPATCH || valueType == VT_UNKNOWN;
      const bool byReference = (flags & DISPATCH_PROPERTYPUTREF) != 0 && member->supports(dispatch::Kind::Set) &&
                               ((flags & DISPATCH_PROPERTYPUT) == 0 || objectValue || !member->supports(dispatch::Kind::Let));
      kind = byReference ? dispatch::Kind::Set
             : (flags & DISPATCH_PROPERTYPUT) != 0 ? dispatch::Kind::Let : dispatch::Kind::Set;
    } else {
      if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
      if ((flags & DISPATCH_METHOD) != 0 && member->supports(dispatch::Kind::Method)) kind = dispatch::Kind::Method;
      else if ((flags & DISPATCH_PROPERTYGET) != 0) kind = dispatch::Kind::Get;
      else kind = dispatch::Kind::Method;
    }

    try {
      std::vector<Variant> args(count);
      for (UINT i = 0; i < count; ++i) {
        const HRESULT hr = fromVariant(argument(i), kind == dispatch::Kind::Set, args[i]);
        if (FAILED(hr)) {
          if (argumentError != nullptr) *argumentError = count - 1 - i;
          return hr;
        }
      }
      Variant value;
      const std::uint32_t status = dispatch::invoke(upload_, member->id, kind, args, value);
      if (status != dispatch::kOk) {
        if (status == dispatch::kTypeMismatch && argumentError != nullptr) *argumentError = 0;
        if (!reportedThroughException(status) || exception == nullptr) return static_cast<HRESULT>(status);
        *exception = EXCEPINFO{};
        exception->bstrSource = SysAllocString(kErrorSource);
        exception->bstrDescription = makeBstr(dispatch::lastErrorMessage());
        exception->scode = static_cast<SCODE>(status);
        return DISP_E_EXCEPTION;
      }
      if (member->byReference)
        for (UINT i = 0; i < count; ++i) writeBack(argument(i), args[i]);
      if (result == nullptr) return S_OK;
      if (kind == dispatch::Kind::Get && isObjectMember(*member)) return toObjectVariant(value, result);
      if (kind == dispatch::Kind::Let || kind == dispatch::Kind::Set ||
          (kind == dispatch::Kind::Method && member->type == dispatch::Type::Void)) {
        VariantInit(result);
        return S_OK;
      }
      return toVariant(value, result);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  static void writeBack(VARIANTARG& argument, const Variant& value) {
    if (argument.vt == (VT_BYREF | VT_BSTR) && argument.pbstrVal != nullptr) {
      BSTR text = makeBstr(value.toString());
      if (text == nullptr) throw std::bad_alloc();
      SysFreeString(*argument.pbstrVal);
      *argument.pbstrVal = text;
    } else if (argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal != nullptr) {
      VARIANT made;
      if (FAILED(toVariant(value, &made))) throw std::bad_alloc();
      VariantClear(argument.pvarVal);
      *argument.pvarVal = made;
    }
  }

  // Early-bound calls: arguments in declaration order; an exception becomes
  // its status and the thread's error information.
  HRESULT vtableCall(DISPID id, WORD flags, VARIANTARG* args, UINT count, VARIANT* result) {
    std::vector<VARIANTARG> reversed(args, args + count);
    std::reverse(reversed.begin(), reversed.end());
    DISPID named = DISPID_PROPERTYPUT;
    const bool putting = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.data(), putting ? &named : nullptr, count, putting ? 1u : 0u};
    EXCEPINFO exception{};
    HRESULT hr = perform(id, flags, params, result, &exception, nullptr);
    if (hr == DISP_E_EXCEPTION) {
      hr = exception.scode;
      setErrorInfo(exception.bstrDescription != nullptr
                       ? narrow(exception.bstrDescription, SysStringLen(exception.bstrDescription))
                       : std::string());
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
    } else if (FAILED(hr)) {
      setErrorInfo(dispatch::lastErrorMessage());
    }
    return hr;
  }

  HRESULT getAs(DISPID id, VARTYPE type, VARIANT& out) {
    VariantInit(&out);
    HRESULT hr = vtableCall(id, DISPATCH_PROPERTYGET, nullptr, 0, &out);
    if (SUCCEEDED(hr) && out.vt != type) hr = VariantChangeType(&out, &out, 0, type);
    if (FAILED(hr)) VariantClear(&out);
    return hr;
  }
  HRESULT getVariant(DISPID id, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    VariantInit(out);
    return vtableCall(id, DISPATCH_PROPERTYGET, nullptr, 0, out);
  }
  HRESULT getText(DISPID id, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    VARIANT v;
    const HRESULT hr = getAs(id, VT_BSTR, v);
    if (SUCCEEDED(hr)) *out = v.bstrVal;
    return hr;
  }
  HRESULT getShort(DISPID id, short* out) {
    if (out == nullptr) return E_POINTER;
    VARIANT v;
    const HRESULT hr = getAs(id, VT_I2, v);
    if (SUCCEEDED(hr)) *out = v.iVal;
    return hr;
  }
  HRESULT getBool(DISPID id, VARIANT_BOOL* out) {
    if (out == nullptr) return E_POINTER;
    VARIANT v;
    const HRESULT hr = getAs(id, VT_BOOL, v);
    if (SUCCEEDED(hr)) *out = v.boolVal;
    return hr;
  }
  HRESULT getObject(DISPID id, IDispatch** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    VARIANT v;
    const HRESULT hr = getAs(id, VT_DISPATCH, v);
    if (SUCCEEDED(hr)) *out = v.pdispVal;
    return hr;
  }
  HRESULT put(DISPID id, WORD flags, VARIANT value) { return vtableCall(id, flags, &value, 1, nullptr); }
  HRESULT putText(DISPID id, BSTR value) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = value;
    return put(id, DISPATCH_PROPERTYPUT, v);
  }
  HRESULT putShort(DISPID id, short value) {
    VARIANT v;
    v.vt = VT_I2;
    v.iVal = value;
    return put(id, DISPATCH_PROPERTYPUT, v);
  }
  HRESULT putBool(DISPID id, VARIANT_BOOL value) {
    VARIANT v;
    v.vt = VT_BOOL;
    v.boolVal = value;
    return put(id, DISPATCH_PROPERTYPUT, v);
  }
  HRESULT putObject(DISPID id, IDispatch* value) {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = value;
    return put(id, DISPATCH_PROPERTYPUTREF, v);
  }
  HRESULT fileMethod(DISPID id, BSTR* file, VARIANT_BOOL* ok) {
    if (file == nullptr || ok == nullptr) return E_POINTER;
    VARIANT argument;
    argument.vt = VT_BYREF | VT_BSTR;
    argument.pbstrVal = file;
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = vtableCall(id, DISPATCH_METHOD, &argument, 1, &result);
    if (SUCCEEDED(hr)) *ok = result.vt == VT_BOOL ? result.boolVal : VARIANT_FALSE;
    VariantClear(&result);
    return hr;
  }

  friend class EventPoint;

  std::atomic<ULONG> refs_{1};
  Site site_;
  Upload upload_;
  EventPoint events_;
  bool dirty_ = false;

  IOleClientSite* clientSite_ = nullptr;
  IOleInPlaceSite* inPlaceSite_ = nullptr;
  IOleInPlaceFrame* frame_ = nullptr;
  IOleInPlaceUIWindow* document_ = nullptr;
  IOleAdviseHolder* adviseHolder_ = nullptr;
  IAdviseSink* viewSink_ = nullptr;
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

ULONG STDMETHODCALLTYPE EventPoint::AddRef() { return owner_.AddRef(); }
ULONG STDMETHODCALLTYPE EventPoint::Release() { return owner_.Release(); }

HRESULT STDMETHODCALLTYPE EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = &owner_;
  owner_.AddRef();
  return S_OK;
}

}  // namespace

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
