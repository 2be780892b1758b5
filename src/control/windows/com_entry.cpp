// The server's entry points: self-registration for the current user (no
// administrator needed), the class object, and unloading.
#include "com_server.hpp"

#include <control/typelib.hpp>
#include <platform/export.hpp>

#include <olectl.h>

#include <atomic>
#include <mutex>
#include <new>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kiv::com {
namespace {

std::atomic<long> gObjects{0};
std::atomic<long> gLocks{0};

// The universal marshaler, which marshals oleautomation interfaces from the
// type library.
constexpr std::wstring_view kTypeLibMarshaler = L"{00020424-0000-0000-C000-000000000046}";

std::wstring text(std::string_view ascii) { return widen(ascii); }

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IClassFactory))) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // One static instance: its references count as objects so the module stays.
  ULONG STDMETHODCALLTYPE AddRef() override {
    objectCreated();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    objectDestroyed();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return createControl(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    com::lockServer(lock != FALSE);
    return S_OK;
  }
};

ClassFactory gFactory;

// One key and its values under HKEY_CURRENT_USER\Software\Classes.
struct Key {
  std::wstring path;
  std::vector<std::pair<std::wstring, std::wstring>> values;  // an empty name is the default value
};

std::vector<Key> registration(const std::wstring& module) {
  const std::wstring clsid = L"CLSID\\" + text(typelib::kClassId);
  const std::wstring progId = text(typelib::kProgId);
  const std::wstring libId = text(typelib::kLibraryId);
  const std::wstring version = text(typelib::kVersion);
  const std::wstring library = L"TypeLib\\" + libId + L"\\" + version;
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
      {library + L"\\0\\win64", {{L"", module}}},
      {library + L"\\FLAGS", {{L"", L"0"}}},
      {library + L"\\HELPDIR", {{L"", folder}}},
  };
  for (auto [iid, name] :
       {std::pair{typelib::kInterfaceId, L"_Upload"}, std::pair{typelib::kEventInterfaceId, L"__Upload"}}) {
    const std::wstring key = L"Interface\\" + text(iid);
    keys.push_back({key, {{L"", name}}});
    keys.push_back({key + L"\\ProxyStubClsid", {{L"", std::wstring(kTypeLibMarshaler)}}});
    keys.push_back({key + L"\\ProxyStubClsid32", {{L"", std::wstring(kTypeLibMarshaler)}}});
    keys.push_back({key + L"\\TypeLib", {{L"", libId}, {L"Version", version}}});
  }
  return keys;
}

// The trees registration makes, deepest owner first.
std::vector<std::wstring> registeredTrees() {
  const std::wstring libId = text(typelib::kLibraryId);
  return {L"CLSID\\" + text(typelib::kClassId),
          text(typelib::kProgId),
          L"TypeLib\\" + libId + L"\\" + text(typelib::kVersion),
          L"Interface\\" + text(typelib::kInterfaceId),
          L"Interface\\" + text(typelib::kEventInterfaceId)};
}

constexpr const wchar_t* kClasses = L"Software\\Classes\\";

bool writeKey(const Key& key) {
  HKEY handle = nullptr;
  const std::wstring path = kClasses + key.path;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
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

bool removeTree(const std::wstring& key) {
  const std::wstring path = kClasses + key;
  LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  status = RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

void objectCreated() noexcept { ++gObjects; }
void objectDestroyed() noexcept { --gObjects; }
void lockServer(bool lock) noexcept {
  if (lock) ++gLocks;
  else if (gLocks > 0) --gLocks;
}
bool serverIdle() noexcept { return gObjects == 0 && gLocks == 0; }

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

// Exported by name for regsvr32 and the component system.
extern "C" {

KIV_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
  using namespace kiv::com;
  try {
    ITypeLib* library = nullptr;
    if (FAILED(typeLibrary(&library))) return SELFREG_E_TYPELIB;
    library->Release();
    const std::wstring module = thisModulePath();
    if (module.empty()) return SELFREG_E_CLASS;
    for (const Key& key : registration(module)) {
      if (!writeKey(key)) {
        for (const std::wstring& tree : registeredTrees()) removeTree(tree);
        return SELFREG_E_CLASS;
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

KIV_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
  using namespace kiv::com;
  try {
    bool ok = true;
    for (const std::wstring& tree : registeredTrees()) ok = removeTree(tree) && ok;
    // The library's key goes once no other version is left in it.
    const std::wstring library = std::wstring(L"Software\\Classes\\TypeLib\\") + widen(kiv::typelib::kLibraryId);
    RegDeleteKeyW(HKEY_CURRENT_USER, library.c_str());
    return ok ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

KIV_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  using namespace kiv::com;
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  CLSID ours;
  if (FAILED(CLSIDFromString(widen(kiv::typelib::kClassId).c_str(), &ours))) return E_UNEXPECTED;
  if (!IsEqualCLSID(clsid, ours)) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(iid, object);
}

KIV_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return kiv::com::serverIdle() && kiv::component::idle() ? S_OK : S_FALSE;
}

}  // extern "C"
