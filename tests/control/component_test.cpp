// Drives the built library the way an outside program does: loads it, finds the
// four entry points and uses the C header, nothing else of the control.
#include <control/kivphotoupload.h>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kiv {
namespace {

#ifdef _WIN32
using ModuleHandle = HMODULE;
ModuleHandle openLibrary(const char* path) { return LoadLibraryA(path); }
void* entryPoint(ModuleHandle module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}
void closeLibrary(ModuleHandle module) { FreeLibrary(module); }
std::string loadError() { return "LoadLibrary failed, error " + std::to_string(GetLastError()); }
#else
using ModuleHandle = void*;
ModuleHandle openLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void* entryPoint(ModuleHandle module, const char* name) { return dlsym(module, name); }
void closeLibrary(ModuleHandle module) { dlclose(module); }
std::string loadError() { return dlerror(); }
#endif

struct Library {
  ModuleHandle handle = openLibrary(KIV_LIBRARY_PATH);
  kiv_DllRegisterServer_fn registerServer = nullptr;
  kiv_DllUnregisterServer_fn unregisterServer = nullptr;
  kiv_DllGetClassObject_fn getClassObject = nullptr;
  kiv_DllCanUnloadNow_fn canUnloadNow = nullptr;

  Library() {
    if (handle == nullptr) return;
    auto find = [&](const char* name) { return entryPoint(handle, (std::string(KIV_ENTRY_PREFIX) + name).c_str()); };
    registerServer = reinterpret_cast<kiv_DllRegisterServer_fn>(find("DllRegisterServer"));
    unregisterServer = reinterpret_cast<kiv_DllUnregisterServer_fn>(find("DllUnregisterServer"));
    getClassObject = reinterpret_cast<kiv_DllGetClassObject_fn>(find("DllGetClassObject"));
    canUnloadNow = reinterpret_cast<kiv_DllCanUnloadNow_fn>(find("DllCanUnloadNow"));
  }
  ~Library() {
    if (handle != nullptr) closeLibrary(handle);
  }
  bool complete() const { return registerServer && unregisterServer && getClassObject && canUnloadNow; }
};

using Records = std::vector<std::pair<std::string, std::vector<std::string>>>;

#ifdef _WIN32
// The registry of classes: one key per class under the user's own settings,
// its values as "name=value" lines.
constexpr const wchar_t* kComponentsKey = L"Software\\kivPhotoUpload\\Components";

std::wstring wide(const std::string& text) { return std::filesystem::path(text).wstring(); }
std::string narrow(const std::wstring& text) { return std::filesystem::path(text).string(); }

Records readRecords() {
  Records found;
  HKEY components = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kComponentsKey, 0, KEY_READ, &components) != ERROR_SUCCESS) return found;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = 256;
    if (RegEnumKeyExW(components, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(components, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    std::vector<std::string> lines;
    wchar_t valueName[256];
    wchar_t data[2048];
    for (DWORD j = 0;; ++j) {
      DWORD valueLength = 256, dataBytes = sizeof data, type = 0;
      if (RegEnumValueW(key, j, valueName, &valueLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes) !=
          ERROR_SUCCESS)
        break;
      if (type == REG_SZ) lines.push_back(narrow(valueName) + "=" + narrow(std::wstring(data, dataBytes / 2 - 1)));
    }
    RegCloseKey(key);
    found.emplace_back(narrow(name), std::move(lines));
  }
  RegCloseKey(components);
  return found;
}

void plantRecord(const std::string& classId, const std::string& name, const std::string& value) {
  HKEY key = nullptr;
  const std::wstring path = std::wstring(kComponentsKey) + L"\\" + wide(classId);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring data = wide(value);
  RegSetValueExW(key, wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}
#endif

#ifndef _WIN32
// The registry's records: class id -> lines of the record.
Records records(const std::filesystem::path& file) {
  Records found;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.front() == '[') found.emplace_back(line.substr(1, line.size() - 2), std::vector<std::string>{});
    else if (!found.empty() && !line.empty()) found.back().second.push_back(line);
  }
  return found;
}
#endif

const std::vector<std::string>* recordOf(const Records& all, const std::string& clsid) {
  for (const auto& [id, lines] : all)
    if (id == clsid) return &lines;
  return nullptr;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const std::string& line : lines)
    if (line == wanted) return true;
  return false;
}

struct Container {
  std::vector<std::string> changed;
  std::vector<std::pair<std::string, int>> events;
  int repaints = 0;
  kiv_status refuseChanges = KIV_S_OK;
  kiv_upload* releaseOnCloseApp = nullptr;

  kiv_site site() {
    kiv_site s{};
    s.user = this;
    s.repaint = [](void* user) { ++static_cast<Container*>(user)->repaints; };
    s.property_changed = [](void* user, const char* name) {
      auto* c = static_cast<Container*>(user);
      c->changed.emplace_back(name);
      return c->refuseChanges;
    };
    s.event = [](void* user, const char* name, int32_t dispid) {
      auto* c = static_cast<Container*>(user);
      c->events.emplace_back(name, dispid);
      if (dispid == KIV_DISPID_CLOSEAPP && c->releaseOnCloseApp != nullptr) {
        c->releaseOnCloseApp->vtbl->Release(c->releaseOnCloseApp);
        c->releaseOnCloseApp = nullptr;
      }
    };
    return s;
  }
};

std::string describe(const kiv_variant& v) {
  switch (v.vt) {
    case KIV_VT_EMPTY: return "EMPTY";
    case KIV_VT_I2: return "I2 " + std::to_string(v.u.i2);
    case KIV_VT_I4: return "I4 " + std::to_string(v.u.i4);
    case KIV_VT_STR: return std::string("STR ") + v.u.str;
    default: return "vt " + std::to_string(v.vt);
  }
}

kiv_variant copyOf(const kiv_variant& v) {
  kiv_variant copy = v;
  if (v.vt == KIV_VT_STR) {
    kiv_variant_init(&copy);
    kiv_variant_set_string(&copy, v.u.str);
  }
  return copy;
}

// A container's property store, reached by the control only through its C callbacks.
struct Bag {
  std::map<std::string, kiv_variant> stored;
  std::vector<std::tuple<std::string, std::string, std::string>> writes;  // key, value, default
  std::string failReadOf;
  kiv_upload* releaseOnWrite = nullptr;

  ~Bag() {
    for (auto& [key, value] : stored) kiv_variant_clear(&value);
  }
  void store(const std::string& key, const kiv_variant& value) {
    forget(key);
    stored.emplace(key, copyOf(value));
  }
  void forget(const std::string& key) {
    auto found = stored.find(key);
    if (found == stored.end()) return;
    kiv_variant_clear(&found->second);
    stored.erase(found);
  }

  kiv_property_bag bag() {
    kiv_property_bag b{};
    b.user = this;
    b.read = [](void* user, const char* name, const kiv_variant*, kiv_variant* value) {
      auto* self = static_cast<Bag*>(user);
      auto found = self->stored.find(name);
      if (found == self->stored.end()) return KIV_S_OK;
      kiv_variant_clear(value);
      *value = copyOf(found->second);
      return self->failReadOf == name ? KIV_E_FAIL : KIV_S_OK;
    };
    b.write = [](void* user, const char* name, const kiv_variant* value, const kiv_variant* defaultValue) {
      auto* self = static_cast<Bag*>(user);
      self->writes.emplace_back(name, describe(*value), describe(*defaultValue));
      self->store(name, *value);
      if (self->releaseOnWrite != nullptr) {
        self->releaseOnWrite->vtbl->Release(self->releaseOnWrite);
        self->releaseOnWrite = nullptr;
      }
      return KIV_S_OK;
    };
    return b;
  }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib.handle, nullptr) << loadError();
    ASSERT_TRUE(lib.complete());
#ifndef _WIN32
    setenv("XDG_DATA_HOME", home.path().c_str(), 1);
#endif
  }
#ifndef _WIN32
  void TearDown() override { unsetenv("XDG_DATA_HOME"); }
#endif

  kiv_upload* create(Container& container) {
    void* object = nullptr;
    EXPECT_EQ(lib.getClassObject(KIV_CLSID_UPLOAD, KIV_IID_CLASSFACTORY, &object), KIV_S_OK);
    if (object == nullptr) return nullptr;
    auto* factory = static_cast<kiv_class_factory*>(object);
    kiv_site site = container.site();
    kiv_upload* control = nullptr;
    EXPECT_EQ(factory->vtbl->CreateInstance(factory, &site, &control), KIV_S_OK);
    factory->vtbl->Release(factory);
    if (control != nullptr) {
      EXPECT_EQ(control->vtbl->Event(control, "Initialize", 0), KIV_S_OK);
      EXPECT_EQ(control->vtbl->Event(control, "InitProperties", 0), KIV_S_OK);
    }
    return control;
  }

  static kiv_status let(kiv_upload* control, const char* name, const char* text) {
    kiv_variant value;
    kiv_variant_init(&value);
    kiv_variant_set_string(&value, text);
    kiv_status status = control->vtbl->InvokeByName(control, name, KIV_DISPATCH_LET, &value, 1, nullptr);
    kiv_variant_clear(&value);
    return status;
  }

  static std::string getText(kiv_upload* control, int32_t dispid) {
    kiv_variant result;
    kiv_variant_init(&result);
    kiv_status status = control->vtbl->Invoke(control, dispid, KIV_DISPATCH_GET, nullptr, 0, &result);
    std::string text = status == KIV_S_OK && result.vt == KIV_VT_STR ? result.u.str : "<failed>";
    kiv_variant_clear(&result);
    return text;
  }

  Library lib;
  test::TempDir home;
#ifdef _WIN32
  static Records readRegistry() { return readRecords(); }
  static void plantOtherRecord() {
    plantRecord("{00000000-0000-0000-0000-000000000001}", "Library", "C:\\other.dll");
  }
#else
  std::filesystem::path registry() const { return home / "kivPhotoUpload/registry"; }
  Records readRegistry() const { return records(registry()); }
  void plantOtherRecord() const {
    test::writeFile(registry(), "[{00000000-0000-0000-0000-000000000001}]\nLibrary=/opt/other.so\n");
  }
#endif
};

std::string valueOf(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines)
    if (line.rfind(name + "=", 0) == 0) return line.substr(name.size() + 1);
  return {};
}

TEST_F(ComponentTest, RegistrationEntersReplacesAndRemovesTheClassRecord) {
  plantOtherRecord();
  ASSERT_EQ(lib.registerServer(), KIV_S_OK);
  ASSERT_EQ(lib.registerServer(), KIV_S_OK);

  auto all = readRegistry();
  ASSERT_EQ(all.size(), 2u);
  const std::vector<std::string>* ours = recordOf(all, KIV_CLSID_UPLOAD);
  ASSERT_NE(ours, nullptr);
  EXPECT_TRUE(std::filesystem::equivalent(valueOf(*ours, "Library"), KIV_LIBRARY_PATH)) << valueOf(*ours, "Library");
  EXPECT_TRUE(hasLine(*ours, "TypeLibrary=KIVPhotoUpload"));
  EXPECT_TRUE(hasLine(*ours, "TypeLibraryVersion=1.0"));
  EXPECT_TRUE(hasLine(*ours, "Locale=0x0409"));
  EXPECT_TRUE(hasLine(*ours, "FileVersion=2.02.0001"));
  EXPECT_TRUE(hasLine(*ours, std::string("LibraryId=") + KIV_LIBID));
  EXPECT_TRUE(hasLine(*ours, std::string("Interface=") + KIV_IID_UPLOAD + " _Upload"));

  ASSERT_EQ(lib.unregisterServer(), KIV_S_OK);
  all = readRegistry();
  EXPECT_EQ(recordOf(all, KIV_CLSID_UPLOAD), nullptr);
  EXPECT_NE(recordOf(all, "{00000000-0000-0000-0000-000000000001}"), nullptr);
  EXPECT_EQ(lib.unregisterServer(), KIV_S_OK);

#ifndef _WIN32
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(registry().parent_path())) ++files;
  EXPECT_EQ(files, 1) << "a temporary file was left beside the registry";
  EXPECT_EQ(std::filesystem::status(registry()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

#ifndef _WIN32
// Only a file standing where the registry's folder belongs can block a user's
// own registration; the Windows registry has no such spot.
TEST_F(ComponentTest, RegistrationThatCannotWriteIsReportedAsFailure) {
  test::writeFile(home / "blocked", "a file where a folder should be");
  setenv("XDG_DATA_HOME", (home / "blocked").c_str(), 1);
  EXPECT_EQ(lib.registerServer(), KIV_SELFREG_E_CLASS);
}
#endif

TEST_F(ComponentTest, ClassObjectIsHandedOutOnlyForTheUploadClass) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(lib.getClassObject("{00000000-0000-0000-0000-000000000000}", KIV_IID_CLASSFACTORY, &object),
            KIV_CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(lib.getClassObject(KIV_CLSID_UPLOAD, KIV_IID_UPLOAD, &object), KIV_E_NOINTERFACE);
  EXPECT_EQ(lib.getClassObject(KIV_CLSID_UPLOAD, KIV_IID_CLASSFACTORY, nullptr), KIV_E_POINTER);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);
}

TEST_F(ComponentTest, ControlFoundInTheRegistrySetsReadsAndReportsClassicErrors) {
  ASSERT_EQ(lib.registerServer(), KIV_S_OK);
  ASSERT_NE(recordOf(readRegistry(), KIV_CLSID_UPLOAD), nullptr);

  Container container;
  kiv_upload* control = create(container);
  ASSERT_NE(control, nullptr);

  EXPECT_EQ(let(control, "VehicleID", "42"), KIV_S_OK);
  EXPECT_EQ(getText(control, KIV_DISPID_VEHICLEID), "42");
  EXPECT_EQ(let(control, "vehicleid", "abc"), KIV_CONTROL_ERROR(13));
  EXPECT_EQ(getText(control, KIV_DISPID_VEHICLEID), "42");
  EXPECT_EQ(let(control, "UserID", "40000"), KIV_CONTROL_ERROR(6));
  EXPECT_STREQ(control->vtbl->LastError(control), "UserID: Overflow: 40000 is out of range");
  EXPECT_EQ(getText(control, KIV_DISPID_USERID), "8515");
  EXPECT_EQ(container.changed, std::vector<std::string>{"VehicleID"});

  EXPECT_EQ(let(control, "NoSuchProperty", "1"), KIV_DISP_E_UNKNOWNNAME);
  EXPECT_EQ(let(control, "kivGetFiles", "1"), KIV_DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_VEHICLEID, KIV_DISPATCH_LET, nullptr, 0, nullptr),
            KIV_DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(control->vtbl->Event(control, "NoSuchEvent", 0), KIV_DISP_E_UNKNOWNNAME);
  int32_t dispid = 0;
  EXPECT_EQ(control->vtbl->GetIDOfName(control, "imagewidth", &dispid), KIV_S_OK);
  EXPECT_EQ(dispid, KIV_DISPID_IMAGEWIDTH);

  kiv_variant width;
  kiv_variant_init(&width);
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_IMAGEWIDTH, KIV_DISPATCH_METHOD | KIV_DISPATCH_GET,
                                  nullptr, 0, &width), KIV_S_OK);
  EXPECT_EQ(width.vt, KIV_VT_I2);
  EXPECT_EQ(width.u.i2, 170);

  control->vtbl->Release(control);
}

TEST_F(ComponentTest, CancelClickRaisesCloseAppAndReleaseAllowsUnloading) {
  Container container;
  void* object = nullptr;
  ASSERT_EQ(lib.getClassObject(KIV_CLSID_UPLOAD, KIV_IID_CLASSFACTORY, &object), KIV_S_OK);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_FALSE);
  auto* factory = static_cast<kiv_class_factory*>(object);
  kiv_site site = container.site();
  kiv_upload* control = nullptr;
  ASSERT_EQ(factory->vtbl->CreateInstance(factory, &site, &control), KIV_S_OK);
  factory->vtbl->Release(factory);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_FALSE);

  ASSERT_EQ(control->vtbl->Event(control, "Initialize", 0), KIV_S_OK);
  ASSERT_EQ(control->vtbl->Event(control, "imgCancel_Click", 0), KIV_S_OK);
  ASSERT_EQ(container.events.size(), 1u);
  EXPECT_EQ(container.events[0].first, "CloseApp");
  EXPECT_EQ(container.events[0].second, KIV_DISPID_CLOSEAPP);

  EXPECT_EQ(control->vtbl->AddRef(control), 2u);
  EXPECT_EQ(control->vtbl->Release(control), 1u);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_FALSE);
  EXPECT_EQ(control->vtbl->Release(control), 0u);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);
}

TEST_F(ComponentTest, ValuesCrossTheBoundaryIntactAndByReferenceTextComesBack) {
  Container container;
  kiv_upload* control = create(container);
  ASSERT_NE(control, nullptr);

  char first[] = "/photos/a.jpg";
  char second[] = "/photos/b.jpg";
  char* items[] = {first, second};
  kiv_variant list;
  kiv_variant_init(&list);
  list.vt = KIV_VT_STR_ARRAY;
  list.u.array.items = items;
  list.u.array.count = 2;
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_SFILES, KIV_DISPATCH_LET, &list, 1, nullptr), KIV_S_OK);
  kiv_variant back;
  kiv_variant_init(&back);
  ASSERT_EQ(control->vtbl->Invoke(control, KIV_DISPID_SFILES, KIV_DISPATCH_GET, nullptr, 0, &back), KIV_S_OK);
  ASSERT_EQ(back.vt, KIV_VT_STR_ARRAY);
  ASSERT_EQ(back.u.array.count, 2u);
  EXPECT_STREQ(back.u.array.items[1], "/photos/b.jpg");
  kiv_variant_clear(&back);

  kiv_variant file;
  kiv_variant_init(&file);
  kiv_variant_set_string(&file, (home / "missing.jpg").string().c_str());
  kiv_variant ok;
  kiv_variant_init(&ok);
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_KIVRESIZEIMAGES, KIV_DISPATCH_METHOD, &file, 1, &ok),
            KIV_S_OK);
  EXPECT_EQ(ok.vt, KIV_VT_BOOL);
  EXPECT_EQ(ok.u.boolean, 0);
  ASSERT_EQ(file.vt, KIV_VT_STR);
  EXPECT_EQ(std::string(file.u.str), (home / "missing.jpg").string());
  kiv_variant_clear(&file);

  kiv_variant truth;
  kiv_variant_init(&truth);
  truth.vt = KIV_VT_BOOL;
  truth.u.boolean = -1;
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_PRIMARY, KIV_DISPATCH_LET, &truth, 1, nullptr), KIV_S_OK);
  kiv_variant bad;
  kiv_variant_init(&bad);
  bad.vt = 77;
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_VIN, KIV_DISPATCH_LET, &bad, 1, nullptr),
            KIV_DISP_E_TYPEMISMATCH);
  EXPECT_EQ(control->vtbl->Invoke(control, KIV_DISPID_OFS, KIV_DISPATCH_SET, &truth, 1, nullptr),
            KIV_DISP_E_TYPEMISMATCH);

  container.refuseChanges = KIV_CONTROL_ERROR(70);
  EXPECT_EQ(let(control, "KIVUser", "someone"), KIV_CONTROL_ERROR(70));
  container.refuseChanges = KIV_E_FAIL;
  EXPECT_EQ(let(control, "KIVUser", "other"), KIV_CONTROL_ERROR(5));

  control->vtbl->Release(control);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);
}

TEST_F(ComponentTest, ContainerMayReleaseTheControlFromItsCallbacks) {
  // Nothing answers on port 1, so each photo fails at once.
  test::writeFile(home / "dock/a.jpg", "not a picture");
  auto prepared = [&](Container& container, const char* mode) {
    kiv_upload* control = create(container);
    if (control == nullptr) return control;
    EXPECT_EQ(let(control, "FullPath", (home / "dock").string().c_str()), KIV_S_OK);
    EXPECT_EQ(let(control, "KIVWEB", "http://127.0.0.1:1"), KIV_S_OK);
    EXPECT_EQ(let(control, "KIVType", mode), KIV_S_OK);
    return control;
  };

  Container express;
  kiv_upload* control = prepared(express, "EXPRESSPHOTOS");
  ASSERT_NE(control, nullptr);
  express.releaseOnCloseApp = control;
  EXPECT_EQ(control->vtbl->Event(control, "Show", 0), KIV_S_OK);
  EXPECT_EQ(express.releaseOnCloseApp, nullptr) << "CloseApp was not raised";
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);

  Container gallery;
  control = prepared(gallery, "DIGITAL");
  ASSERT_NE(control, nullptr);
  ASSERT_EQ(control->vtbl->Event(control, "Show", 0), KIV_S_OK);
  gallery.releaseOnCloseApp = control;
  EXPECT_EQ(control->vtbl->Event(control, "imgUploadAll_Click", 0), KIV_S_OK);
  EXPECT_EQ(gallery.releaseOnCloseApp, nullptr) << "CloseApp was not raised";
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);

  Container saving;
  control = create(saving);
  ASSERT_NE(control, nullptr);
  Bag bag;
  bag.releaseOnWrite = control;
  kiv_property_bag callbacks = bag.bag();
  EXPECT_EQ(control->vtbl->WriteProperties(control, &callbacks), KIV_S_OK);
  EXPECT_EQ(bag.writes.size(), 12u);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);
}

TEST_F(ComponentTest, PropertyBagOfCallbacksSavesEveryKeyAndRestoresWithoutNotifying) {
  Container saving;
  kiv_upload* source = create(saving);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(let(source, "VIN", "WDB2030461A123456"), KIV_S_OK);
  ASSERT_EQ(let(source, "VehicleID", "42"), KIV_S_OK);
  Bag bag;
  kiv_property_bag callbacks = bag.bag();
  ASSERT_EQ(source->vtbl->WriteProperties(source, &callbacks), KIV_S_OK);
  source->vtbl->Release(source);
  using Write = std::tuple<std::string, std::string, std::string>;
  EXPECT_EQ(bag.writes, (std::vector<Write>{
                            {"VehicleID", "I4 42", "I4 1395348"},
                            {"UserID", "I2 8515", "I2 8515"},
                            {"CompanyID", "I4 1", "I2 1"},
                            {"KIVUser", "STR vorpelk", "STR vorpelk"},
                            {"KIVPassword", "STR vorpelk", "STR vorpelk"},
                            {"KIVFTP", "STR kivftp", "STR kivftp"},
                            {"KIVWEB", "STR http://kivweb", "STR http://kivweb"},
                            {"VIN", "STR WDB2030461A123456", "STR "},
                            {"FullPath", "STR C:\\KIV_PHOTOS", "STR C:\\KIV_PHOTOS"},
                            {"IMAGEHEIGHT", "I2 226", "STR 226"},
                            {"IMAGEWIDTH", "I2 170", "STR 170"},
                            {"KIVType", "STR DIGITAL", "STR DIGITAL"},
                        }));

  Container restoring;
  kiv_upload* target = create(restoring);
  ASSERT_NE(target, nullptr);
  ASSERT_EQ(let(target, "KIVType", "EXPRESSPHOTOS"), KIV_S_OK);
  restoring.changed.clear();
  bag.forget("KIVType");
  ASSERT_EQ(target->vtbl->ReadProperties(target, &callbacks), KIV_S_OK);
  EXPECT_EQ(getText(target, KIV_DISPID_VIN), "WDB2030461A123456");
  EXPECT_EQ(getText(target, KIV_DISPID_VEHICLEID), "42");
  EXPECT_EQ(getText(target, KIV_DISPID_KIVTYPE), "DIGITAL");
  EXPECT_TRUE(restoring.changed.empty());

  bag.failReadOf = "VIN";
  EXPECT_EQ(target->vtbl->ReadProperties(target, &callbacks), KIV_CONTROL_ERROR(5));
  EXPECT_STREQ(target->vtbl->LastError(target), "VIN: the container's property bag could not read it");
  bag.failReadOf.clear();
  kiv_variant tooBig;
  kiv_variant_init(&tooBig);
  kiv_variant_set_string(&tooBig, "40000");
  bag.store("UserID", tooBig);
  kiv_variant_clear(&tooBig);
  EXPECT_EQ(target->vtbl->ReadProperties(target, &callbacks), KIV_CONTROL_ERROR(6));
  EXPECT_STREQ(target->vtbl->LastError(target), "UserID: Overflow: 40000 is out of range");
  EXPECT_EQ(target->vtbl->ReadProperties(target, nullptr), KIV_E_POINTER);

  // A hostile bag's malformed values are refused, never freed as they claim.
  for (const std::uint16_t vt : {std::uint16_t{KIV_VT_STR_ARRAY}, std::uint16_t{99}}) {
    kiv_property_bag hostile{};
    hostile.user = const_cast<std::uint16_t*>(&vt);
    hostile.read = [](void* user, const char*, const kiv_variant*, kiv_variant* value) {
      value->vt = *static_cast<const std::uint16_t*>(user);
      value->u.array.items = nullptr;
      value->u.array.count = 3;
      return KIV_S_OK;
    };
    hostile.write = callbacks.write;
    EXPECT_EQ(target->vtbl->ReadProperties(target, &hostile), KIV_CONTROL_ERROR(13)) << vt;
  }

  target->vtbl->Release(target);
  EXPECT_EQ(lib.canUnloadNow(), KIV_S_OK);
}

}  // namespace
}  // namespace kiv
