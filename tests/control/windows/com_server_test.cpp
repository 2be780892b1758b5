// The built DLL as a COM client meets it: the class object from
// DllGetClassObject, late binding through IDispatch, early binding through
// _Upload, the CloseApp event at an advised sink, persistence, and the
// registration for the machine or the user.
#include <control/dispatch.hpp>
#include <control/kivphotoupload.h>
#include <control/typelib.hpp>
#include <platform/windows/com_ptr.hpp>

#include "support/dealer_servers.hpp"
#include "support/photos.hpp"
#include "support/temp_dir.hpp"
#include "support/windows/close_app_sink.hpp"

#include "kivPhotoUpload_idl.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kiv {
namespace {

using test::Sink;

std::wstring wide(std::string_view text) { return std::filesystem::path(std::string(text)).wstring(); }
std::string narrow(const wchar_t* text) { return std::filesystem::path(text).string(); }

void* entryPoint(HMODULE module, const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }

GUID guidOf(std::string_view text) {
  GUID guid{};
  EXPECT_EQ(CLSIDFromString(wide(text).c_str(), &guid), S_OK) << text;
  return guid;
}

using kiv::winapi::ComPtr;

struct Value {
  VARIANT v;
  Value() { VariantInit(&v); }
  explicit Value(const wchar_t* text) : Value() {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
  }
  explicit Value(int number) : Value() {
    v.vt = VT_I4;
    v.lVal = number;
  }
  ~Value() { VariantClear(&v); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  std::string text() {
    VARIANT copy;
    VariantInit(&copy);
    if (FAILED(VariantChangeType(&copy, &v, VARIANT_ALPHABOOL, VT_BSTR))) return "(type " + std::to_string(v.vt) + ")";
    std::string result = narrow(copy.bstrVal);
    VariantClear(&copy);
    return result;
  }
};


// A container's property bag in memory.
class Bag final : public IPropertyBag {
 public:
  std::map<std::wstring, std::wstring> values;
  std::vector<std::wstring> order;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IPropertyBag))) {
      *object = static_cast<IPropertyBag*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    auto found = values.find(name);
    if (found == values.end()) return E_INVALIDARG;
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(found->second.c_str());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, value, 0, VT_BSTR))) return E_FAIL;
    values[name] = text.bstrVal;
    order.emplace_back(name);
    VariantClear(&text);
    return S_OK;
  }
};

struct ComServerTest : ::testing::Test {
  HMODULE module = nullptr;
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  ComPtr<IClassFactory> factory;

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    module = LoadLibraryW(wide(KIV_LIBRARY_PATH).c_str());
    ASSERT_NE(module, nullptr) << KIV_LIBRARY_PATH;
    getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(entryPoint(module, "DllGetClassObject"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_EQ(getClassObject(guidOf(typelib::kClassId), __uuidof(IClassFactory), factory.outVoid()), S_OK);
  }
  void TearDown() override {
    factory.reset();
    if (module != nullptr) FreeLibrary(module);
    CoUninitialize();
  }

  HRESULT canUnloadNow() {
    auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(entryPoint(module, "DllCanUnloadNow"));
    return entry();
  }

  void create(ComPtr<IDispatch>& control) {
    ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IDispatch), control.outVoid()), S_OK);
  }

  static DISPID idOf(IDispatch* control, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(control->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << narrow(name);
    return id;
  }

  static HRESULT put(IDispatch* control, const wchar_t* name, VARIANT value, EXCEPINFO* exception = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    EXCEPINFO ignored{};
    const HRESULT hr = control->Invoke(idOf(control, name), GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                       &params, nullptr, exception != nullptr ? exception : &ignored, nullptr);
    if (exception == nullptr) {
      SysFreeString(ignored.bstrSource);
      SysFreeString(ignored.bstrDescription);
    }
    return hr;
  }
  static void let(IDispatch* control, const wchar_t* name, const wchar_t* text) {
    Value value(text);
    EXPECT_EQ(put(control, name, value.v), S_OK) << narrow(name);
  }
  static std::string get(IDispatch* control, const wchar_t* name) {
    Value result;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(control->Invoke(idOf(control, name), GUID_NULL, LOCALE_USER_DEFAULT,
                              DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, &result.v, nullptr, nullptr),
              S_OK)
        << narrow(name);
    return result.text();
  }
  static std::map<std::string, std::string> persisted(IDispatch* control) {
    std::map<std::string, std::string> values;
    for (std::string_view name : dispatch::persistedPropertyNames())
      values[std::string(name)] = get(control, wide(name).c_str());
    return values;
  }
};

TEST_F(ComServerTest, TheTypeLibraryDescribesTheMembersOfTheTable) {
  ComPtr<IDispatch> control;
  create(control);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(control->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
  ComPtr<ITypeLib> library;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(library.out(), &index), S_OK);
  TLIBATTR* libraryAttributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(libraryAttributes->guid, guidOf(typelib::kLibraryId)));
  EXPECT_EQ(libraryAttributes->lcid, typelib::kLocale);
  EXPECT_EQ(libraryAttributes->wMajorVerNum, typelib::kVersionMajor);
  EXPECT_EQ(libraryAttributes->wMinorVerNum, typelib::kVersionMinor);
  library->ReleaseTLibAttr(libraryAttributes);
  BSTR libraryName = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &libraryName, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(narrow(libraryName), typelib::kName);
  SysFreeString(libraryName);

  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, guidOf(typelib::kInterfaceId)));
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
  info->ReleaseTypeAttr(attributes);

  for (const dispatch::Member& m : dispatch::members()) {
    SCOPED_TRACE(std::string(m.name));
    const std::wstring name = wide(m.name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    MEMBERID id = MEMBERID_NIL;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, m.id);
    EXPECT_EQ(idOf(control.get(), name.c_str()), m.id);
    if (m.parameterCount > 0) {
      BSTR found[3] = {};
      UINT count = 0;
      ASSERT_EQ(info->GetNames(id, found, 3, &count), S_OK);
      ASSERT_GE(count, 2u);
      EXPECT_EQ(narrow(found[1]), m.parameterName);
      for (UINT i = 0; i < count; ++i) SysFreeString(found[i]);
    }
  }

  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(control->QueryInterface(__uuidof(IProvideClassInfo2), classInfo.outVoid()), S_OK);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.out()), S_OK);
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, guidOf(typelib::kClassId)));
  EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCONTROL);
  EXPECT_EQ(attributes->cImplTypes, 2);
  coclass->ReleaseTypeAttr(attributes);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, guidOf(typelib::kEventInterfaceId)));
}

TEST_F(ComServerTest, CloseAppReachesTheAdvisedSinkOnce) {
  test::DealerServers servers;
  servers.reset();
  test::TempDir photos;
  test::writeJpeg(photos / "a.jpg", 400, 300);
  test::writeJpeg(photos / "b.jpg", 400, 300);

  ComPtr<IDispatch> control;
  create(control);
  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(control->QueryInterface(__uuidof(IProvideClassInfo2), classInfo.outVoid()), S_OK);
  GUID source{};
  ASSERT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(control->QueryInterface(__uuidof(IConnectionPointContainer), container.outVoid()), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(source, point.out()), S_OK);
  Sink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);

  let(control.get(), L"KIVWEB", wide(servers.webBase()).c_str());
  let(control.get(), L"KIVFTP", wide(servers.ftpHost()).c_str());
  let(control.get(), L"KIVUser", wide(servers.user()).c_str());
  let(control.get(), L"KIVPassword", wide(servers.password()).c_str());
  let(control.get(), L"VehicleID", L"5");
  let(control.get(), L"CompanyID", L"9");
  let(control.get(), L"KIVType", L"EXPRESSPHOTOS");
  let(control.get(), L"FullPath", photos.path().wstring().c_str());

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(control->Invoke(idOf(control.get(), L"kivGetFiles"), GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                            nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(sink.closeApps, 1);
  EXPECT_EQ(sink.otherEvents, 0);
  EXPECT_EQ(test::filesUnder(servers.ftpRoot()), (std::set<std::string>{"9/V5_P1.jpg", "9/V5_P2.jpg"}));

  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sink.refs, 0u);
}

TEST_F(ComServerTest, ASinkMayReleaseTheControlFromInsideCloseApp) {
  test::DealerServers servers;
  servers.reset();
  test::TempDir photos;
  test::writeJpeg(photos / "a.jpg", 40, 30);
  ComPtr<IDispatch> control;
  create(control);
  let(control.get(), L"KIVWEB", wide(servers.webBase()).c_str());
  let(control.get(), L"KIVFTP", wide(servers.ftpHost()).c_str());
  let(control.get(), L"KIVUser", wide(servers.user()).c_str());
  let(control.get(), L"KIVPassword", wide(servers.password()).c_str());
  let(control.get(), L"KIVType", L"ExpressPhotos");
  let(control.get(), L"FullPath", photos.path().wstring().c_str());

  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(control->QueryInterface(__uuidof(IConnectionPointContainer), container.outVoid()), S_OK);
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(__uuidof(__Upload), point.out()), S_OK);
  container.reset();
  Sink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
  // The point holds the control too; the sink lets both go in the event.
  IConnectionPoint* held = point.detach();
  sink.onCloseApp = [&] {
    held->Unadvise(cookie);
    held->Release();
    control.reset();
  };
  IDispatch* raw = control.get();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(raw->Invoke(idOf(raw, L"kivGetFiles"), GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                        nullptr, nullptr),
            S_OK);
  EXPECT_EQ(sink.closeApps, 1);
  EXPECT_FALSE(control);
  EXPECT_EQ(sink.refs, 0u);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(ComServerTest, PropertyBagRoundTrip) {
  ComPtr<IDispatch> first;
  create(first);
  EXPECT_EQ(get(first.get(), L"IMAGEWIDTH"), "170") << "defaults before any InitNew";
  ComPtr<IPersistPropertyBag> persist;
  ASSERT_EQ(first->QueryInterface(__uuidof(IPersistPropertyBag), persist.outVoid()), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(get(first.get(), L"IMAGEWIDTH"), "170");
  EXPECT_EQ(get(first.get(), L"KIVType"), "DIGITAL");
  let(first.get(), L"VehicleID", L"4711");
  let(first.get(), L"KIVType", L"EXPRESSPHOTOS");
  let(first.get(), L"IMAGEWIDTH", L"640");
  let(first.get(), L"VIN", L"WVWZZZ1JZXW000001");
  let(first.get(), L"FullPath", L"C:\\Dock\\Fotos");
  Bag bag;
  ASSERT_EQ(persist->Save(&bag, TRUE, TRUE), S_OK);
  std::vector<std::wstring> expected;
  for (std::string_view name : dispatch::persistedPropertyNames()) expected.push_back(wide(name));
  EXPECT_EQ(bag.order, expected);

  ComPtr<IDispatch> second;
  create(second);
  ComPtr<IPersistPropertyBag> reload;
  ASSERT_EQ(second->QueryInterface(__uuidof(IPersistPropertyBag), reload.outVoid()), S_OK);
  ASSERT_EQ(reload->Load(&bag, nullptr), S_OK);
  EXPECT_EQ(persisted(second.get()), persisted(first.get()));
  EXPECT_EQ(get(second.get(), L"VehicleID"), "4711");

  // Keys missing from the bag take their defaults; a bad one names itself.
  Bag partial;
  partial.values[L"IMAGEHEIGHT"] = L"tall";
  ComPtr<IDispatch> third;
  create(third);
  ASSERT_EQ(third->QueryInterface(__uuidof(IPersistPropertyBag), reload.outVoid()), S_OK);
  EXPECT_EQ(reload->Load(&partial, nullptr), static_cast<HRESULT>(KIV_CONTROL_ERROR(13)));
  EXPECT_EQ(get(third.get(), L"KIVUser"), "vorpelk");
}

TEST_F(ComServerTest, StreamRoundTrip) {
  ComPtr<IDispatch> first;
  create(first);
  ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(first->QueryInterface(__uuidof(IPersistStreamInit), persist.outVoid()), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  let(first.get(), L"KIVPassword", L"geheim");
  let(first.get(), L"IMAGEHEIGHT", L"480");
  let(first.get(), L"CompanyID", L"77");
  EXPECT_EQ(persist->IsDirty(), S_OK);
  CLSID clsid{};
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, guidOf(typelib::kClassId)));

  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.out()), S_OK);
  ULARGE_INTEGER size{};
  ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
  ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, size.QuadPart);
  LARGE_INTEGER start{};
  ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);

  ComPtr<IDispatch> second;
  create(second);
  ComPtr<IPersistStreamInit> reload;
  ASSERT_EQ(second->QueryInterface(__uuidof(IPersistStreamInit), reload.outVoid()), S_OK);
  ASSERT_EQ(reload->Load(stream.get()), S_OK);
  EXPECT_EQ(persisted(second.get()), persisted(first.get()));
  EXPECT_EQ(get(second.get(), L"KIVPassword"), "geheim");

  ComPtr<IStream> garbage;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, garbage.out()), S_OK);
  ULONG written = 0;
  garbage->Write("not a control", 13, &written);
  garbage->Seek(start, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(reload->Load(garbage.get()), static_cast<HRESULT>(KIV_CONTROL_ERROR(13)));
}

TEST_F(ComServerTest, ErrorsArriveAsExceptionsWithTheClassicNumbers) {
  ComPtr<IDispatch> control;
  create(control);
  Value tooWide(40000);
  EXCEPINFO exception{};
  EXPECT_EQ(put(control.get(), L"IMAGEWIDTH", tooWide.v, &exception), DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<std::uint32_t>(exception.scode), KIV_CONTROL_ERROR(6));
  ASSERT_NE(exception.bstrDescription, nullptr);
  EXPECT_NE(narrow(exception.bstrDescription).find("IMAGEWIDTH"), std::string::npos);
  EXPECT_NE(narrow(exception.bstrDescription).find("40000"), std::string::npos);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);

  Value notANumber(L"abc");
  exception = EXCEPINFO{};
  EXPECT_EQ(put(control.get(), L"VehicleID", notANumber.v, &exception), DISP_E_EXCEPTION);
  EXPECT_EQ(static_cast<std::uint32_t>(exception.scode), KIV_CONTROL_ERROR(13));
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);

  // Calls the table refuses keep their own codes.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(control->Invoke(99, GUID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  Value text(L"x");
  EXPECT_EQ(put(control.get(), L"kivGetFiles", text.v), DISP_E_MEMBERNOTFOUND);
  DISPID unknown = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchThing")};
  EXPECT_EQ(control->GetIDsOfNames(GUID_NULL, names, 1, 0, &unknown), DISP_E_UNKNOWNNAME);

  // Early binding reports through the status and the thread's error information.
  ComPtr<_Upload> upload;
  ASSERT_EQ(control->QueryInterface(__uuidof(_Upload), upload.outVoid()), S_OK);
  BSTR big = SysAllocString(L"40000");
  EXPECT_EQ(static_cast<std::uint32_t>(upload->put_UserID(big)), KIV_CONTROL_ERROR(6));
  SysFreeString(big);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.out()), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_NE(narrow(description).find("UserID"), std::string::npos);
  SysFreeString(description);
}

TEST_F(ComServerTest, EarlyBindingReachesTheSameMembers) {
  ComPtr<IDispatch> control;
  create(control);
  ComPtr<_Upload> upload;
  ASSERT_EQ(control->QueryInterface(__uuidof(_Upload), upload.outVoid()), S_OK);
  EXPECT_EQ(upload->put_IMAGEHEIGHT(300), S_OK);
  short height = 0;
  EXPECT_EQ(upload->get_IMAGEHEIGHT(&height), S_OK);
  EXPECT_EQ(height, 300);
  EXPECT_EQ(upload->put_Primary(VARIANT_TRUE), S_OK);
  EXPECT_EQ(get(control.get(), L"Primary"), "True");
  BSTR vin = SysAllocString(L"VIN-\u00e9");
  EXPECT_EQ(upload->put_VIN(vin), S_OK);
  SysFreeString(vin);
  BSTR back = nullptr;
  EXPECT_EQ(upload->get_VIN(&back), S_OK);
  EXPECT_EQ(std::wstring(back), L"VIN-\u00e9");
  SysFreeString(back);
  IDispatch* fileSystem = nullptr;
  EXPECT_EQ(upload->get_oFs(&fileSystem), S_OK);
  ASSERT_NE(fileSystem, nullptr);  // made by Initialize
  fileSystem->Release();
  EXPECT_EQ(upload->putref_oFs(nullptr), S_OK);
  EXPECT_EQ(upload->get_oFs(&fileSystem), S_OK);
  EXPECT_EQ(fileSystem, nullptr);

  test::TempDir dock;
  test::writeJpeg(dock / "big.jpg", 800, 600);
  EXPECT_EQ(upload->put_IMAGEWIDTH(200), S_OK);
  EXPECT_EQ(upload->put_IMAGEHEIGHT(150), S_OK);
  BSTR file = SysAllocString((dock / "big.jpg").wstring().c_str());
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(upload->kivResizeImages(&file, &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  SysFreeString(file);
  EXPECT_EQ(test::pictureSize(dock / "big.jpg"), (std::pair{200, 150}));
}

TEST_F(ComServerTest, TheLibraryUnloadsOnlyWhenNothingIsAlive) {
  {
    ComPtr<IDispatch> control;
    create(control);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  ASSERT_EQ(getClassObject(guidOf(typelib::kClassId), __uuidof(IClassFactory), factory.outVoid()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
  EXPECT_EQ(getClassObject(guidOf(typelib::kInterfaceId), __uuidof(IClassFactory), factory.outVoid()),
            CLASS_E_CLASSNOTAVAILABLE);
}

// Registration as seen through one hive's Software\Classes, in this process's
// own registry view unless another is asked for.
struct Classes {
  HKEY root;

  std::wstring value(const std::wstring& key, const wchar_t* name = nullptr) const {
    wchar_t data[1024] = {};
    DWORD bytes = sizeof data;
    const std::wstring path = L"Software\\Classes\\" + key;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS)
      return L"<missing>";
    return data;
  }
  bool exists(const std::wstring& key, REGSAM view = 0) const {
    HKEY handle = nullptr;
    const std::wstring path = L"Software\\Classes\\" + key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
  }
  void write(const std::wstring& key, REGSAM view) const {
    HKEY handle = nullptr;
    const std::wstring path = L"Software\\Classes\\" + key;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(handle);
  }
  void remove(const std::wstring& key, REGSAM view) const {
    const std::wstring path = L"Software\\Classes\\" + key;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, DELETE | KEY_ALL_ACCESS | view, &handle) != ERROR_SUCCESS) return;
    RegDeleteTreeW(handle, nullptr);
    RegCloseKey(handle);
    RegDeleteKeyExW(root, path.c_str(), view, 0);
  }
};

class RegistrationTest : public ComServerTest {
 protected:
  using Entry = HRESULT(STDAPICALLTYPE*)();
  using Install = HRESULT(STDAPICALLTYPE*)(BOOL, const wchar_t*);

  void SetUp() override {
    ComServerTest::SetUp();
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    modulePath = path;
    registerServer = reinterpret_cast<Entry>(entryPoint(module, "DllRegisterServer"));
    unregisterServer = reinterpret_cast<Entry>(entryPoint(module, "DllUnregisterServer"));
    install = reinterpret_cast<Install>(entryPoint(module, "DllInstall"));
    ASSERT_TRUE(registerServer && unregisterServer && install);
  }

  // Every key of the class's registration, as an outside reader checks it.
  void expectRegistered(const Classes& classes) {
    EXPECT_EQ(classes.value(clsid), L"Upload");
    EXPECT_EQ(classes.value(clsid + L"\\InprocServer32"), modulePath);
    EXPECT_EQ(classes.value(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(classes.value(clsid + L"\\ProgID"), progId);
    EXPECT_EQ(classes.value(clsid + L"\\TypeLib"), libId);
    EXPECT_TRUE(classes.exists(clsid + L"\\Control"));
    EXPECT_TRUE(classes.exists(clsid + L"\\Insertable"));
    EXPECT_EQ(classes.value(progId + L"\\CLSID"), wide(typelib::kClassId));
    EXPECT_EQ(classes.value(L"TypeLib\\" + libId + L"\\1.0"), L"KIVPhotoUpload");
    EXPECT_EQ(classes.value(L"TypeLib\\" + libId + L"\\1.0\\0\\" + platform), modulePath);
    EXPECT_EQ(classes.value(L"TypeLib\\" + libId + L"\\1.0\\FLAGS"), L"0");
    EXPECT_EQ(classes.value(L"Interface\\" + wide(typelib::kInterfaceId) + L"\\TypeLib"), libId);
  }
  void expectNothingLeft(const Classes& classes) {
    for (const std::wstring& key : {clsid, progId, L"TypeLib\\" + libId, L"Interface\\" + wide(typelib::kInterfaceId),
                                    L"Interface\\" + wide(typelib::kEventInterfaceId)})
      EXPECT_FALSE(classes.exists(key)) << narrow(key.c_str());
  }

  Entry registerServer = nullptr;
  Entry unregisterServer = nullptr;
  Install install = nullptr;
  std::wstring modulePath;
  const std::wstring clsid = L"CLSID\\" + wide(typelib::kClassId);
  const std::wstring libId = wide(typelib::kLibraryId);
  const std::wstring progId = wide(typelib::kProgId);
  const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  static constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
};

// A test process may write the machine's classes under Wine, as an
// administrator's regsvr32 does on Windows.
TEST_F(RegistrationTest, RegistersForTheMachineWhereItMayAndLeavesNothingBehind) {
  const Classes machine{HKEY_LOCAL_MACHINE}, user{HKEY_CURRENT_USER};
  ASSERT_EQ(registerServer(), S_OK);
  expectRegistered(machine);
  expectNothingLeft(user);
  EXPECT_EQ(registerServer(), S_OK) << "registering twice is no error";

  ASSERT_EQ(unregisterServer(), S_OK);
  expectNothingLeft(machine);
  EXPECT_EQ(unregisterServer(), S_OK) << "unregistering twice is no error";
}

TEST_F(RegistrationTest, RegistersForTheUserOnlyWhenAskedTo) {
  const Classes machine{HKEY_LOCAL_MACHINE}, user{HKEY_CURRENT_USER};
  ASSERT_EQ(install(TRUE, L"user"), S_OK);
  expectRegistered(user);
  expectNothingLeft(machine);
  ASSERT_EQ(install(FALSE, L"User"), S_OK);
  expectNothingLeft(user);
  EXPECT_EQ(install(TRUE, L"everyone"), E_INVALIDARG);
  expectNothingLeft(user);
  expectNothingLeft(machine);
}

// The type library's key (and on Windows the ProgID) is shared by the 32-bit
// and the 64-bit registry view: removing one bitness must leave it to the other.
TEST_F(RegistrationTest, UnregisteringLeavesTheOtherBitnessItsSharedKeys) {
  const Classes machine{HKEY_LOCAL_MACHINE};
  const std::wstring otherPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";
  ASSERT_EQ(registerServer(), S_OK);
  machine.write(clsid + L"\\InprocServer32", kOtherView);
  machine.write(progId + L"\\CLSID", kOtherView);
  machine.write(L"TypeLib\\" + libId + L"\\1.0\\0\\" + otherPlatform, kOtherView);

  ASSERT_EQ(unregisterServer(), S_OK);
  EXPECT_FALSE(machine.exists(clsid));
  EXPECT_FALSE(machine.exists(L"TypeLib\\" + libId + L"\\1.0\\0\\" + platform));
  EXPECT_TRUE(machine.exists(clsid, kOtherView));
  EXPECT_TRUE(machine.exists(progId, kOtherView));
  EXPECT_TRUE(machine.exists(L"TypeLib\\" + libId + L"\\1.0\\0\\" + otherPlatform, kOtherView));

  machine.remove(clsid, kOtherView);
  machine.remove(L"TypeLib\\" + libId, kOtherView);
  machine.remove(progId, kOtherView);
}

}  // namespace
}  // namespace kiv
