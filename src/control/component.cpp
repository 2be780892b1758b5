// The component boundary: the four library entry points, the per-user registry,
// the class object and the C face of an Upload control. Every function here
// catches everything; a C caller only ever sees a status.
#include <control/c_variant.hpp>
#include <control/dispatch.hpp>
#include <control/kivphotoupload.h>
#include <control/module.hpp>
#include <control/typelib.hpp>
#include <control/upload.hpp>
#include <platform/filesystem/registry.hpp>
#include <platform/host/text.hpp>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

static_assert(kiv::typelib::kClassId == KIV_CLSID_UPLOAD);
static_assert(kiv::typelib::kLibraryId == KIV_LIBID);
static_assert(kiv::typelib::kInterfaceId == KIV_IID_UPLOAD);
static_assert(kiv::typelib::kEventInterfaceId == KIV_DIID_UPLOAD_EVENTS);
static_assert(kiv::typelib::kName == KIV_TYPELIB_NAME);
static_assert(kiv::typelib::kVersion == KIV_TYPELIB_VERSION);
static_assert(kiv::typelib::kLocale == KIV_TYPELIB_LOCALE);
static_assert(kiv::typelib::kFileVersion == KIV_FILE_VERSION);
static_assert(kiv::typelib::dispid::Prefered == KIV_DISPID_PREFERED);
static_assert(kiv::typelib::dispid::CloseApp == KIV_DISPID_CLOSEAPP);

namespace kiv::cface {
namespace {

using host::Variant;

using text::equalsIgnoringCase;

// The one place where C++ failures become statuses.
template <typename Fn>
kiv_status guarded(std::string* message, Fn&& fn) noexcept {
  auto note = [&](const char* what) noexcept {
    if (message == nullptr) return;
    try {
      *message = what;
    } catch (...) {
      message->clear();
    }
  };
  try {
    return fn();
  } catch (...) {
    const dispatch::Failure failure = dispatch::currentFailure();
    note(failure.text);
    return failure.status;
  }
}

// A container's failure status as the control error it stands for.
[[noreturn]] void throwContainerFailure(kiv_status status, const std::string& message) {
  if ((status & 0xFFFF0000u) == dispatch::kControlErrorBase) throw Error(static_cast<int>(status & 0xFFFFu), message);
  throw Error(errc::InvalidProcedureCall, message);
}

// ---- the site --------------------------------------------------------------

class CallbackSite final : public host::Site {
 public:
  explicit CallbackSite(const kiv_site* site) {
    if (site != nullptr) c_ = *site;
  }
  void Refresh() override {
    if (c_.repaint) c_.repaint(c_.user);
  }
  void PropertyChanged(std::string_view name) override {
    if (!c_.property_changed) return;
    kiv_status status = c_.property_changed(c_.user, std::string(name).c_str());
    if (status != KIV_S_OK) throwContainerFailure(status, "the container refused the change of " + std::string(name));
  }
  void RaiseEvent(std::string_view name) override {
    if (!c_.event) return;
    std::int32_t id = equalsIgnoringCase(name, "CloseApp") ? typelib::dispid::CloseApp : 0;
    c_.event(c_.user, std::string(name).c_str(), id);
  }
  std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override {
    if (!c_.message_box) return 1;
    return c_.message_box(c_.user, std::string(prompt).c_str(), buttons, std::string(title).c_str());
  }

 private:
  kiv_site c_{};
};

// ---- the property bag --------------------------------------------------------

class CallbackPropertyBag final : public host::PropertyBag {
 public:
  explicit CallbackPropertyBag(const kiv_property_bag& bag) : c_(bag) {}

  Variant ReadProperty(std::string_view name, const Variant& defaultValue) override {
    key_ = name;
    const OwnedVariant fallback(defaultValue);
    OwnedVariant value(defaultValue);
    kiv_status status = c_.read(c_.user, key_.c_str(), &fallback.c, &value.c);
    if (status != KIV_S_OK) {
      if (!wellFormed(value.c)) kiv_variant_init(&value.c);
      throwContainerFailure(status, "the container's property bag could not read it");
    }
    return adoptFromContainer(value.c);
  }

  void WriteProperty(std::string_view name, const Variant& value, const Variant& defaultValue) override {
    key_ = name;
    const OwnedVariant stored(value);
    const OwnedVariant fallback(defaultValue);
    kiv_status status = c_.write(c_.user, key_.c_str(), &stored.c, &fallback.c);
    if (status != KIV_S_OK) throwContainerFailure(status, "the container's property bag could not store it");
  }

  // The key being read or written, to name it in a failure.
  const std::string& key() const { return key_; }

 private:
  kiv_property_bag c_;
  std::string key_;
};

// ---- the control -----------------------------------------------------------

struct UploadObject : kiv_upload {
  explicit UploadObject(const kiv_site* s);
  std::atomic<std::uint32_t> refs{1};
  CallbackSite site;
  Upload upload;
  std::string lastError;
};

UploadObject* self(kiv_upload* p) { return static_cast<UploadObject*>(p); }

std::uint32_t uploadAddRef(kiv_upload* p) {
  if (p == nullptr) return 0;
  return ++self(p)->refs;
}

std::uint32_t uploadRelease(kiv_upload* p) {
  if (p == nullptr) return 0;
  std::uint32_t left = --self(p)->refs;
  if (left == 0) {
    try {
      delete self(p);
    } catch (...) {
    }
    module::objectDestroyed();
  }
  return left;
}

// Every entry that runs control code holds one: a container may release the
// control from any callback, and the control must outlive the call it is in.
class CallReference {
 public:
  explicit CallReference(kiv_upload* control) noexcept : control_(control) { uploadAddRef(control_); }
  ~CallReference() { uploadRelease(control_); }
  CallReference(const CallReference&) = delete;
  CallReference& operator=(const CallReference&) = delete;

 private:
  kiv_upload* control_;
};

kiv_status invokeMember(UploadObject* obj, const dispatch::Member* member, std::uint16_t kind,
                        kiv_variant* args, std::size_t count, kiv_variant* result) {
  if (member == nullptr) {
    obj->lastError = "no such member of _Upload";
    return KIV_DISP_E_UNKNOWNNAME;
  }
  if (count > 0 && args == nullptr) return KIV_E_POINTER;
  dispatch::Kind k;
  switch (kind) {
    case KIV_DISPATCH_METHOD | KIV_DISPATCH_GET:
      k = member->supports(dispatch::Kind::Method) ? dispatch::Kind::Method : dispatch::Kind::Get;
      break;
    case KIV_DISPATCH_METHOD: k = dispatch::Kind::Method; break;
    case KIV_DISPATCH_GET: k = dispatch::Kind::Get; break;
    case KIV_DISPATCH_LET: k = dispatch::Kind::Let; break;
    case KIV_DISPATCH_SET: k = dispatch::Kind::Set; break;
    default: obj->lastError = "invalid invocation kind"; return KIV_E_INVALIDARG;
  }
  std::vector<Variant> values;
  values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    try {
      values.push_back(fromC(args[i]));
    } catch (const std::invalid_argument& e) {
      obj->lastError = e.what();
      return KIV_DISP_E_TYPEMISMATCH;
    }
  }
  Variant value;
  kiv_status status = dispatch::invoke(obj->upload, member->id, k, values, value);
  if (status != KIV_S_OK) {
    obj->lastError = dispatch::lastErrorMessage();
    return status;
  }
  if (member->byReference)
    for (std::size_t i = 0; i < count; ++i) toC(values[i], args[i]);
  if (result != nullptr) toC(value, *result);
  return KIV_S_OK;
}

kiv_status uploadInvoke(kiv_upload* p, std::int32_t dispid, std::uint16_t kind, kiv_variant* args,
                        std::size_t count, kiv_variant* result) {
  if (p == nullptr) return KIV_E_POINTER;
  const CallReference hold(p);
  UploadObject* obj = self(p);
  return guarded(&obj->lastError, [&] {
    return invokeMember(obj, dispatch::find(dispid), kind, args, count, result);
  });
}

kiv_status uploadInvokeByName(kiv_upload* p, const char* name, std::uint16_t kind, kiv_variant* args,
                              std::size_t count, kiv_variant* result) {
  if (p == nullptr || name == nullptr) return KIV_E_POINTER;
  const CallReference hold(p);
  UploadObject* obj = self(p);
  return guarded(&obj->lastError, [&] {
    return invokeMember(obj, dispatch::find(std::string_view(name)), kind, args, count, result);
  });
}

kiv_status uploadGetIDOfName(kiv_upload* p, const char* name, std::int32_t* dispid) {
  if (p == nullptr || name == nullptr || dispid == nullptr) return KIV_E_POINTER;
  const dispatch::Member* member = dispatch::find(std::string_view(name));
  if (member == nullptr) return KIV_DISP_E_UNKNOWNNAME;
  *dispid = member->id;
  return KIV_S_OK;
}

kiv_status uploadEvent(kiv_upload* p, const char* name, std::int16_t index) {
  if (p == nullptr || name == nullptr) return KIV_E_POINTER;
  const CallReference hold(p);
  UploadObject* obj = self(p);
  return guarded(&obj->lastError, [&]() -> kiv_status {
    Upload& u = obj->upload;
    std::string_view event(name);
    if (equalsIgnoringCase(event, "Initialize")) u.Initialize();
    else if (equalsIgnoringCase(event, "InitProperties")) u.InitProperties();
    else if (equalsIgnoringCase(event, "Show")) u.Show();
    else if (equalsIgnoringCase(event, "imgCancel_Click")) u.imgCancel_Click();
    else if (equalsIgnoringCase(event, "imgUploadAll_Click")) u.imgUploadAll_Click();
    else if (equalsIgnoringCase(event, "imgSelectedPhotos_Click")) u.imgSelectedPhotos_Click();
    else if (equalsIgnoringCase(event, "Image2_Click")) u.Image2_Click(index);
    else if (equalsIgnoringCase(event, "VScroll1_Change")) u.VScroll1_Change();
    else if (equalsIgnoringCase(event, "VScroll1_Scroll")) u.VScroll1_Scroll();
    else {
      obj->lastError = std::string("no such event: ") + name;
      return KIV_DISP_E_UNKNOWNNAME;
    }
    return KIV_S_OK;
  });
}

const char* uploadLastError(kiv_upload* p) {
  if (p == nullptr) return "";
  return self(p)->lastError.c_str();
}

kiv_status deliverWithBag(kiv_upload* p, const kiv_property_bag& bag,
                          void (Upload::*event)(host::PropertyBag&)) {
  const CallReference hold(p);
  UploadObject* obj = self(p);
  return guarded(&obj->lastError, [&] {
    CallbackPropertyBag adapter(bag);
    try {
      (obj->upload.*event)(adapter);
    } catch (const Error& e) {
      throw Error(e.number(), adapter.key() + ": " + e.what());
    }
    return KIV_S_OK;
  });
}

kiv_status uploadReadProperties(kiv_upload* p, const kiv_property_bag* bag) {
  if (p == nullptr || bag == nullptr || bag->read == nullptr) return KIV_E_POINTER;
  return deliverWithBag(p, *bag, &Upload::ReadProperties);
}

kiv_status uploadWriteProperties(kiv_upload* p, const kiv_property_bag* bag) {
  if (p == nullptr || bag == nullptr || bag->write == nullptr) return KIV_E_POINTER;
  return deliverWithBag(p, *bag, &Upload::WriteProperties);
}

constexpr kiv_upload_vtbl kUploadVtbl{uploadAddRef,         uploadRelease,        uploadInvoke,
                                      uploadInvokeByName,   uploadGetIDOfName,    uploadEvent,
                                      uploadLastError,      uploadReadProperties, uploadWriteProperties};

UploadObject::UploadObject(const kiv_site* s) : kiv_upload{&kUploadVtbl}, site(s), upload(site) {}

// ---- the class object --------------------------------------------------------

std::uint32_t factoryAddRef(kiv_class_factory*) { return static_cast<std::uint32_t>(module::objectCreated()); }
std::uint32_t factoryRelease(kiv_class_factory*) { return static_cast<std::uint32_t>(module::objectDestroyed()); }

kiv_status factoryCreateInstance(kiv_class_factory*, const kiv_site* site, kiv_upload** control) {
  if (control == nullptr) return KIV_E_POINTER;
  *control = nullptr;
  return guarded(nullptr, [&] {
    auto* obj = new UploadObject(site);
    module::objectCreated();
    *control = obj;
    return KIV_S_OK;
  });
}

kiv_status factoryLockServer(kiv_class_factory*, int lock) {
  module::lockServer(lock != 0);
  return KIV_S_OK;
}


// ---- the registry ------------------------------------------------------------

fs::ClassValues classValues() {
  return {{"Class", std::string(typelib::kClassName)},
          {"ProgID", std::string(typelib::kProgId)},
          {"Flags", "Control"},
          {"Library", fs::thisModulePath()},
          {"LibraryId", std::string(typelib::kLibraryId)},
          {"TypeLibrary", std::string(typelib::kName)},
          {"TypeLibraryVersion", std::string(typelib::kVersion)},
          {"Locale", std::string(typelib::kLocaleText)},
          {"FileVersion", std::string(typelib::kFileVersion)},
          {"Interface", std::string(typelib::kInterfaceId) + " _Upload"},
          {"EventInterface", std::string(typelib::kEventInterfaceId) + " __Upload"}};
}

kiv_status registration(bool enter) noexcept {
  kiv_status status = guarded(nullptr, [&] {
    if (enter) fs::enterClass(typelib::kClassId, classValues());
    else fs::removeClass(typelib::kClassId);
    return KIV_S_OK;
  });
  return status == KIV_S_OK || status == KIV_E_OUTOFMEMORY ? status : KIV_SELFREG_E_CLASS;
}

}  // namespace

constinit const kiv_class_factory_vtbl kClassFactoryVtbl{factoryAddRef, factoryRelease, factoryCreateInstance,
                                                         factoryLockServer};

}  // namespace kiv::cface

extern "C" {

KIV_C_EXPORT kiv_status KIV_ENTRY(DllRegisterServer)(void) { return kiv::cface::registration(true); }

KIV_C_EXPORT kiv_status KIV_ENTRY(DllUnregisterServer)(void) { return kiv::cface::registration(false); }

KIV_C_EXPORT kiv_status KIV_ENTRY(DllGetClassObject)(const char* clsid, const char* iid, void** object) {
  using kiv::text::equalsIgnoringCase;
  if (object == nullptr) return KIV_E_POINTER;
  *object = nullptr;
  if (clsid == nullptr || iid == nullptr) return KIV_E_INVALIDARG;
  if (!equalsIgnoringCase(clsid, KIV_CLSID_UPLOAD)) return KIV_CLASS_E_CLASSNOTAVAILABLE;
  if (!equalsIgnoringCase(iid, KIV_IID_CLASSFACTORY)) return KIV_E_NOINTERFACE;
  kiv_class_factory* classObject = kiv::module::uploadClassObject();
  classObject->vtbl->AddRef(classObject);
  *object = classObject;
  return KIV_S_OK;
}

KIV_C_EXPORT kiv_status KIV_ENTRY(DllCanUnloadNow)(void) {
  return kiv::module::idle() ? KIV_S_OK : KIV_S_FALSE;
}

}  // extern "C"
