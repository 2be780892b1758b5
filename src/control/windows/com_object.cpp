// The Upload control as a COM object: late and early binding over the member
// table of dispatch.cpp, the CloseApp event to advised sinks, class
// information, and persistence in property bags and streams. The visual
// interfaces (IOleObject, in-place activation, drawing) join this class later;
// Refresh and MsgBox are where they meet the control.
#include "com_server.hpp"

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
    objectCreated();
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
      objectDestroyed();
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

class Control final : public _Upload,
                      public IConnectionPointContainer,
                      public IProvideClassInfo2,
                      public IPersistPropertyBag,
                      public IPersistStreamInit,
                      public ISupportErrorInfo {
 public:
  Control() : site_(*this), upload_(site_), events_(*this) {
    upload_.Initialize();
    objectCreated();
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
      objectDestroyed();
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

 private:
  // The control's container, as the control sees it.
  class Site final : public host::Site {
   public:
    explicit Site(Control& owner) : owner_(owner) {}
    void Refresh() override {}
    void PropertyChanged(std::string_view) override { owner_.dirty_ = true; }
    void RaiseEvent(std::string_view name) override {
      if (text::equalsIgnoringCase(name, "CloseApp")) owner_.events_.fire(dispid::CloseApp);
    }
    std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override {
      const std::wstring text = widen(prompt);
      const std::wstring caption = widen(title);
      return static_cast<std::int16_t>(
          MessageBoxW(owner_.window_, text.c_str(), caption.c_str(), static_cast<UINT>(buttons) | MB_TASKMODAL));
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

  ~Control() = default;

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
  // The container's window, for message boxes; none until the control is sited.
  HWND window_ = nullptr;
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
