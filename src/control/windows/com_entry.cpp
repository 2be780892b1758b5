// The server's entry points: self-registration (for the machine where the
// process may, else for the user), the class object, and unloading.
#include "com_server.hpp"

#include <control/module.hpp>
#include <control/typelib.hpp>
#include <platform/export.hpp>
#include <platform/windows/com_base.hpp>

#include <olectl.h>

#include "kivPhotoUpload_idl.h"

#include <mutex>
#include <new>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kiv::com {
namespace {

constexpr unsigned long long hexValue(std::string_view text, std::size_t at, std::size_t digits) {
  unsigned long long value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c - 'A' + 10;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

// text is a GUID in registry form, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
constexpr bool sameGuid(std::string_view text, const GUID& guid) {
  if (text.size() != 38 || hexValue(text, 1, 8) != guid.Data1 || hexValue(text, 10, 4) != guid.Data2 ||
      hexValue(text, 15, 4) != guid.Data3)
    return false;
  for (std::size_t i = 0; i < 8; ++i)
    if (hexValue(text, i < 2 ? 20 + 2 * i : 21 + 2 * i, 2) != guid.Data4[i]) return false;
  return true;
}

// Linux and C callers know the identities as text; the IDL is the source.
static_assert(sameGuid(typelib::kClassId, __uuidof(::Upload)));
static_assert(sameGuid(typelib::kInterfaceId, __uuidof(_Upload)));
static_assert(sameGuid(typelib::kEventInterfaceId, __uuidof(__Upload)));

// The universal marshaler, which marshals oleautomation interfaces from the
// type library.
constexpr std::wstring_view kTypeLibMarshaler = L"{00020424-0000-0000-C000-000000000046}";

std::wstring text(std::string_view ascii) { return widen(ascii); }

// The one class object of Upload. Its C face is what kiv_DllGetClassObject
// hands out, so C callers and the component system share it, its count and
// its locks. One static instance: its references, through either face, count
// as objects so the module stays.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    return winapi::queryInterface<IClassFactory>(this, iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    module::objectCreated();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    module::objectDestroyed();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return createControl(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    module::lockServer(lock != FALSE);
    return S_OK;
  }

  kiv_class_factory* cFace() noexcept { return &cFace_; }

 private:
  kiv_class_factory cFace_{&cface::kClassFactoryVtbl};
};

ClassFactory gFactory;

// A registration goes under Software\Classes of the machine (what regsvr32 run
// by an administrator is expected to write, and what elevated programs and Wine
// read) or of the user, always in this module's own registry view, so the
// 32-bit and the 64-bit control register side by side.
constexpr REGSAM kOwnView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr const wchar_t* kClassesPath = L"Software\\Classes\\";

// The type library's key names the platform of the module it points to.
constexpr const wchar_t* kTypeLibPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";

// The machine's classes when this process may write them, else the user's.
HKEY permittedClasses() {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_CREATE_SUB_KEY | kOwnView, &handle) !=
      ERROR_SUCCESS)
    return HKEY_CURRENT_USER;
  RegCloseKey(handle);
  return HKEY_LOCAL_MACHINE;
}

// One key and its values under Software\Classes.
struct Key {
  std::wstring path;
  std::vector<std::pair<std::wstring, std::wstring>> values;  // an empty name is the default value
};

std::wstring classKey() { return L"CLSID\\" + text(typelib::kClassId); }
std::wstring typeLibKey() { return L"TypeLib\\" + text(typelib::kLibraryId); }
std::wstring typeLibVersionKey() { return typeLibKey() + L"\\" + text(typelib::kVersion); }
std::wstring interfaceKey(std::string_view iid) { return L"Interface\\" + text(iid); }

std::vector<Key> registration(const std::wstring& module) {
  const std::wstring clsid = classKey();
  const std::wstring progId = text(typelib::kProgId);
  const std::wstring libId = text(typelib::kLibraryId);
  const std::wstring version = text(typelib::kVersion);
  const std::wstring library = typeLibVersionKey();
  std::wstring folder = module.substr(0, module.find_last_of(L"\\/"));
  std::vector<Key> keys{
      {clsid, {{L"", text(typelib::kClassName)}}},
      {clsid + L"\\InprocServer32", {{L"", module}, {L"ThreadingModel", L"Apartment"}}},
      {clsid + L"\\ProgID", {{L"", progId}}},
      {clsid + L"\\VersionIndependentProgID", {{L"", progId}}},
      {clsid + L"\\TypeLib", {{L"", libId}}},
      {clsid + L"\\Version", {{L"", version}}},
      {clsid + L"\\Control", {}},
      {clsid + L"\\Insertable", {}},
      // OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE | SETCLIENTSITEFIRST,
      // as IOleObject::GetMiscStatus answers.
      {clsid + L"\\MiscStatus", {{L"", L"0"}}},
      {clsid + L"\\MiscStatus\\1", {{L"", L"131473"}}},
      {progId, {{L"", text(typelib::kClassName)}}},
      {progId + L"\\CLSID", {{L"", text(typelib::kClassId)}}},
      {library, {{L"", text(typelib::kHelpString)}}},
      {library + L"\\0\\" + kTypeLibPlatform, {{L"", module}}},
      {library + L"\\FLAGS", {{L"", L"0"}}},
      {library + L"\\HELPDIR", {{L"", folder}}},
  };
  for (auto [iid, name] :
       {std::pair{typelib::kInterfaceId, L"_Upload"}, std::pair{typelib::kEventInterfaceId, L"__Upload"}}) {
    const std::wstring key = interfaceKey(iid);
    keys.push_back({key, {{L"", name}}});
    keys.push_back({key + L"\\ProxyStubClsid", {{L"", std::wstring(kTypeLibMarshaler)}}});
    keys.push_back({key + L"\\ProxyStubClsid32", {{L"", std::wstring(kTypeLibMarshaler)}}});
    keys.push_back({key + L"\\TypeLib", {{L"", libId}, {L"Version", version}}});
  }
  return keys;
}

bool writeKey(HKEY classes, const Key& key) {
  HKEY handle = nullptr;
  const std::wstring path = kClassesPath + key.path;
  if (RegCreateKeyExW(classes, path.c_str(), 0, nullptr, 0, KEY_WRITE | kOwnView, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (const auto& [name, value] : key.values) {
    ok = ok && RegSetValueExW(handle, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  RegCloseKey(handle);
  return ok;
}

bool exists(HKEY classes, const std::wstring& key, REGSAM view) {
  HKEY handle = nullptr;
  const std::wstring path = kClassesPath + key;
  if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

bool removeTree(HKEY classes, const std::wstring& key) {
  const std::wstring path = kClassesPath + key;
  HKEY handle = nullptr;
  LSTATUS status = RegOpenKeyExW(classes, path.c_str(), 0, DELETE | KEY_READ | KEY_WRITE | kOwnView,
                                 &handle);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  status = RegDeleteTreeW(handle, nullptr);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return false;
  status = RegDeleteKeyExW(classes, path.c_str(), kOwnView, 0);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Removes a key left without subkeys or values; keeps one that still holds some.
void removeIfEmpty(HKEY classes, const std::wstring& key) {
  HKEY handle = nullptr;
  const std::wstring path = kClassesPath + key;
  if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ | kOwnView, &handle) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  const bool empty = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && values == 0;
  RegCloseKey(handle);
  if (empty) RegDeleteKeyExW(classes, path.c_str(), kOwnView, 0);
}

HRESULT unregisterFrom(HKEY classes) {
  // The class and its interfaces live apart in each registry view, the type
  // library's key is shared by the 32-bit and the 64-bit view, and the ProgID
  // is shared on Windows but not under Wine: what the other bitness still
  // needs stays while its class is registered.
  const std::wstring progId = text(typelib::kProgId);
  bool ok = removeTree(classes, classKey());
  for (std::string_view iid : {typelib::kInterfaceId, typelib::kEventInterfaceId})
    ok = removeTree(classes, interfaceKey(iid)) && ok;
  ok = removeTree(classes, typeLibVersionKey() + L"\\0\\" + kTypeLibPlatform) && ok;
  if (!exists(classes, classKey(), kOtherView)) {
    ok = removeTree(classes, progId) && ok;
    ok = removeTree(classes, typeLibVersionKey()) && ok;
  } else {
    const bool otherHasProgId = exists(classes, progId, kOtherView);
    ok = removeTree(classes, progId) && ok;
    if (otherHasProgId && !exists(classes, progId, kOtherView)) {
      for (const Key& key : registration(thisModulePath()))
        if (key.path.starts_with(progId)) ok = writeKey(classes, key) && ok;
    }
    removeIfEmpty(classes, typeLibVersionKey() + L"\\0");
  }
  // The library's key goes once no other version is left in it.
  removeIfEmpty(classes, typeLibKey());
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT registerIn(HKEY classes) {
  winapi::ComPtr<ITypeLib> library;
  if (FAILED(typeLibrary(library.out()))) return SELFREG_E_TYPELIB;
  const std::wstring module = thisModulePath();
  if (module.empty()) return SELFREG_E_CLASS;
  for (const Key& key : registration(module)) {
    if (!writeKey(classes, key)) {
      unregisterFrom(classes);
      return SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

template <typename Step>
HRESULT guarded(Step step) noexcept {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace

HMODULE thisModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::wstring thisModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(thisModule(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT typeLibrary(ITypeLib** library) noexcept {
  static std::mutex guard;
  static ITypeLib* loaded = nullptr;
  if (library == nullptr) return E_POINTER;
  *library = nullptr;
  const std::lock_guard lock(guard);
  if (loaded == nullptr) {
    try {
      const HRESULT hr = LoadTypeLibEx(thisModulePath().c_str(), REGKIND_NONE, &loaded);
      if (FAILED(hr)) return hr;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  loaded->AddRef();
  *library = loaded;
  return S_OK;
}

}  // namespace kiv::com

namespace kiv::module {
kiv_class_factory* uploadClassObject() noexcept { return com::gFactory.cFace(); }
}  // namespace kiv::module

// Exported by name for regsvr32 and the component system.
extern "C" {

// regsvr32 run by an administrator (or under Wine) registers for the machine;
// run by a user without the right, for that user.
KIV_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  using namespace kiv::com;
  return guarded([] { return registerIn(permittedClasses()); });
}

KIV_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
  using namespace kiv::com;
  return guarded([] { return unregisterFrom(permittedClasses()); });
}

// regsvr32 /n /i:user registers for the user only (and /u /n /i:user removes
// that); /i:machine insists on the machine's classes.
KIV_EXPORT HRESULT STDAPICALLTYPE DllInstall(BOOL install, const wchar_t* command) {
  using namespace kiv::com;
  return guarded([&]() -> HRESULT {
    const std::wstring_view scope = command == nullptr ? L"" : command;
    HKEY classes = permittedClasses();
    if (CompareStringOrdinal(scope.data(), static_cast<int>(scope.size()), L"user", -1, TRUE) == CSTR_EQUAL) {
      classes = HKEY_CURRENT_USER;
    } else if (CompareStringOrdinal(scope.data(), static_cast<int>(scope.size()), L"machine", -1, TRUE) ==
               CSTR_EQUAL) {
      if (classes != HKEY_LOCAL_MACHINE) return E_ACCESSDENIED;
    } else if (!scope.empty()) {
      return E_INVALIDARG;
    }
    return install ? registerIn(classes) : unregisterFrom(classes);
  });
}

KIV_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  using namespace kiv::com;
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, __uuidof(::Upload))) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(iid, object);
}

KIV_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return kiv::module::idle() ? S_OK : S_FALSE;
}

}  // extern "C"
