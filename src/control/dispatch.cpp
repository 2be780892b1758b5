// Late-bound member table and invoke of the Upload control.
#include <control/dispatch.hpp>
#include <control/upload.hpp>
#include <platform/host/text.hpp>

#include <algorithm>
#include <array>
#include <new>

namespace kiv::dispatch {
namespace {

using host::Variant;
namespace id = typelib::dispid;

constexpr int kNoSuchMember = 438;  // "Object doesn't support this property or method"

constexpr std::uint16_t kGet = static_cast<std::uint16_t>(Kind::Get);
constexpr std::uint16_t kLet = static_cast<std::uint16_t>(Kind::Let);
constexpr std::uint16_t kSet = static_cast<std::uint16_t>(Kind::Set);
constexpr std::uint16_t kMethod = static_cast<std::uint16_t>(Kind::Method);

constexpr std::array<Member, 25> kMembers{{
    {"arrString", id::arrString, kGet | kLet | kSet, Type::Variant, 0, "", false},
    {"oFs", id::oFs, kGet | kSet, Type::FileSystemObject, 0, "", false},
    {"strHTML", id::strHTML, kGet | kLet, Type::String, 0, "", false},
    {"oFolder", id::oFolder, kGet | kSet, Type::Folder, 0, "", false},
    {"oFolders", id::oFolders, kGet | kSet, Type::Folders, 0, "", false},
    {"oSubFolder", id::oSubFolder, kGet | kSet, Type::Folder, 0, "", false},
    {"oFile", id::oFile, kGet | kSet, Type::File, 0, "", false},
    {"sFiles", id::sFiles, kGet | kLet | kSet, Type::Variant, 0, "", false},
    {"kivGetFiles", id::kivGetFiles, kMethod, Type::Void, 0, "", false},
    {"kivFTPUpload", id::kivFTPUpload, kMethod, Type::Bool, 1, "sFileName", true},
    {"kivResizeImages", id::kivResizeImages, kMethod, Type::Bool, 1, "sImageFile", true},
    {"IMAGEHEIGHT", id::IMAGEHEIGHT, kGet | kLet, Type::Int16, 0, "New_IMAGEHEIGHT", false},
    {"IMAGEWIDTH", id::IMAGEWIDTH, kGet | kLet, Type::Int16, 0, "New_IMAGEWIDTH", false},
    {"VehicleID", id::VehicleID, kGet | kLet, Type::String, 0, "New_VehicleID", false},
    {"UserID", id::UserID, kGet | kLet, Type::String, 0, "New_UserID", false},
    {"CompanyID", id::CompanyID, kGet | kLet, Type::String, 0, "New_CompanyID", false},
    {"KIVUser", id::KIVUser, kGet | kLet, Type::String, 0, "New_KIVUser", false},
    {"KIVPassword", id::KIVPassword, kGet | kLet, Type::String, 0, "New_KIVPassword", false},
    {"KIVType", id::KIVType, kGet | kLet, Type::String, 0, "New_KIVType", false},
    {"KIVFTP", id::KIVFTP, kGet | kLet, Type::String, 0, "New_KIVFTP", false},
    {"KIVWEB", id::KIVWEB, kGet | kLet, Type::String, 0, "New_KIVWEB", false},
    {"VIN", id::VIN, kGet | kLet, Type::String, 0, "New_VIN", false},
    {"FullPath", id::FullPath, kGet | kLet, Type::String, 0, "New_FullPath", false},
    {"Primary", id::Primary, kGet | kLet, Type::Bool, 0, "New_Primary", false},
    {"Prefered", id::Prefered, kGet | kLet, Type::Bool, 0, "New_Prefered", false},
}};

constexpr std::array<std::string_view, 12> kPersisted{
    "VehicleID", "UserID", "CompanyID", "KIVUser", "KIVPassword", "KIVFTP",
    "KIVWEB", "VIN", "FullPath", "IMAGEHEIGHT", "IMAGEWIDTH", "KIVType"};

thread_local std::string tLastError;

void note(std::string_view what, std::string_view detail = {}) noexcept {
  try {
    tLastError.assign(what);
    if (!detail.empty()) tLastError.append(": ").append(detail);
  } catch (...) {
    tLastError.clear();
  }
}

std::size_t expectedArguments(const Member& m, Kind kind) {
  switch (kind) {
    case Kind::Method: return static_cast<std::size_t>(m.parameterCount);
    case Kind::Get: return 0;
    case Kind::Let:
    case Kind::Set: return 1;
  }
  return 0;
}

// Objects do not travel through a Variant: a caller sees whether one is held.
template <typename T>
Variant describe(const std::shared_ptr<T>& object, std::string_view typeName) {
  return object ? Variant(typeName) : Variant();
}

// Object assignment accepts only Nothing (an Empty Variant), which releases the
// held reference. Returns false when the value was anything else.
template <typename T>
bool assignNothing(std::shared_ptr<T>& object, const Variant& value) {
  if (!value.isEmpty()) return false;
  object.reset();
  return true;
}

Variant get(Upload& u, DispId member) {
  switch (member) {
    case id::arrString: return u.arrString;
    case id::oFs: return describe(u.oFs, "FileSystemObject");
    case id::strHTML: return Variant(u.strHTML);
    case id::oFolder: return describe(u.oFolder, "Folder");
    case id::oFolders: return describe(u.oFolders, "Folders");
    case id::oSubFolder: return describe(u.oSubFolder, "Folder");
    case id::oFile: return describe(u.oFile, "File");
    case id::sFiles: return u.sFiles;
    case id::IMAGEHEIGHT: return Variant(u.IMAGEHEIGHT());
    case id::IMAGEWIDTH: return Variant(u.IMAGEWIDTH());
    case id::VehicleID: return Variant(u.VehicleID());
    case id::UserID: return Variant(u.UserID());
    case id::CompanyID: return Variant(u.CompanyID());
    case id::KIVUser: return Variant(u.KIVUser());
    case id::KIVPassword: return Variant(u.KIVPassword());
    case id::KIVType: return Variant(u.KIVType());
    case id::KIVFTP: return Variant(u.KIVFTP());
    case id::KIVWEB: return Variant(u.KIVWEB());
    case id::VIN: return Variant(u.VIN());
    case id::FullPath: return Variant(u.FullPath());
    case id::Primary: return Variant(u.Primary());
    case id::Prefered: return Variant(u.Prefered());
    default: return Variant();
  }
}

void let(Upload& u, DispId member, const Variant& v) {
  switch (member) {
    case id::arrString: u.arrString = v; break;
    case id::strHTML: u.strHTML = v.toString(); break;
    case id::sFiles: u.sFiles = v; break;
    case id::IMAGEHEIGHT: u.IMAGEHEIGHT(v.toInt16()); break;
    case id::IMAGEWIDTH: u.IMAGEWIDTH(v.toInt16()); break;
    case id::VehicleID: u.VehicleID(v.toString()); break;
    case id::UserID: u.UserID(v.toString()); break;
    case id::CompanyID: u.CompanyID(v.toString()); break;
    case id::KIVUser: u.KIVUser(v.toString()); break;
    case id::KIVPassword: u.KIVPassword(v.toString()); break;
    case id::KIVType: u.KIVType(v.toString()); break;
    case id::KIVFTP: u.KIVFTP(v.toString()); break;
    case id::KIVWEB: u.KIVWEB(v.toString()); break;
    case id::VIN: u.VIN(v.toString()); break;
    case id::FullPath: u.FullPath(v.toString()); break;
    case id::Primary: u.Primary(v.toBool()); break;
    case id::Prefered: u.Prefered(v.toBool()); break;
    default: break;
  }
}

bool set(Upload& u, DispId member, const Variant& v) {
  switch (member) {
    case id::oFs: return assignNothing(u.oFs, v);
    case id::oFolder: return assignNothing(u.oFolder, v);
    case id::oFolders: return assignNothing(u.oFolders, v);
    case id::oSubFolder: return assignNothing(u.oSubFolder, v);
    case id::oFile: return assignNothing(u.oFile, v);
    case id::arrString:
      if (!v.isEmpty()) return false;
      u.arrString = Variant();
      return true;
    case id::sFiles:
      if (!v.isEmpty()) return false;
      u.sFiles = Variant();
      return true;
    default: return false;
  }
}

Variant callMethod(Upload& u, DispId member, std::vector<Variant>& args) {
  switch (member) {
    case id::kivGetFiles: u.kivGetFiles(); return Variant();
    case id::kivFTPUpload:
    case id::kivResizeImages: {
      std::string file = args[0].toString();
      bool ok = member == id::kivFTPUpload ? u.kivFTPUpload(file) : u.kivResizeImages(file);
      args[0] = Variant(std::move(file));
      return Variant(ok);
    }
    default: return Variant();
  }
}

// Throws kiv::Error from the control; answers a dispatch status for faults of the call itself.
std::uint32_t call(Upload& u, const Member& m, Kind kind, std::vector<Variant>& args, Variant& result) {
  if (!m.supports(kind)) {
    tLastError = std::string(m.name) + ": no accessor of that kind";
    return kWrongKind;
  }
  if (args.size() != expectedArguments(m, kind)) {
    tLastError = std::string(m.name) + ": expects " + std::to_string(expectedArguments(m, kind)) +
                 " argument(s), got " + std::to_string(args.size());
    return kWrongArgumentCount;
  }
  switch (kind) {
    case Kind::Get: result = get(u, m.id); break;
    case Kind::Let: let(u, m.id, args[0]); result = Variant(); break;
    case Kind::Set:
      if (!set(u, m.id, args[0])) {
        tLastError = std::string(m.name) + ": only Nothing (Empty) can be assigned as an object";
        return kTypeMismatch;
      }
      result = Variant();
      break;
    case Kind::Method: result = callMethod(u, m.id, args); break;
  }
  return kOk;
}

std::uint32_t guarded(Upload& u, const Member* m, Kind kind, std::vector<Variant>& args,
                      Variant& result) noexcept {
  try {
    if (m == nullptr) {
      tLastError = "no such member of _Upload";
      return kUnknownMember;
    }
    return call(u, *m, kind, args, result);
  } catch (...) {
    const Failure failure = currentFailure();
    if (failure.controlError) {
      note(m->name, failure.text);
    } else {
      note(failure.text);
    }
    return failure.status;
  }
}

}  // namespace

std::span<const Member> members() { return kMembers; }

const Member* find(DispId member) {
  for (const Member& m : kMembers)
    if (m.id == member) return &m;
  return nullptr;
}

const Member* find(std::string_view name) {
  for (const Member& m : kMembers)
    if (text::equalsIgnoringCase(m.name, name)) return &m;
  return nullptr;
}

std::uint32_t invoke(Upload& upload, DispId member, Kind kind, std::vector<Variant>& args,
                     Variant& result) noexcept {
  return guarded(upload, find(member), kind, args, result);
}

std::uint32_t invoke(Upload& upload, std::string_view name, Kind kind, std::vector<Variant>& args,
                     Variant& result) noexcept {
  return guarded(upload, find(name), kind, args, result);
}

Failure currentFailure() noexcept {
  try {
    throw;
  } catch (const Error& e) {
    return {kControlErrorBase + static_cast<std::uint32_t>(e.number() & 0xFFFF), e.what(), true};
  } catch (const std::bad_alloc&) {
    return {kOutOfMemory, "out of memory", false};
  } catch (const std::exception& e) {
    return {kFailed, e.what(), false};
  } catch (...) {
    return {kFailed, "unknown failure", false};
  }
}

const std::string& lastErrorMessage() noexcept { return tLastError; }

void letProperty(Upload& upload, std::string_view name, const Variant& value) {
  const Member* m = find(name);
  if (m == nullptr || !m->supports(Kind::Let))
    throw Error(kNoSuchMember, std::string(name) + ": no such property taking a value");
  try {
    let(upload, m->id, value);
  } catch (const Error& e) {
    throw Error(e.number(), std::string(m->name) + ": " + e.what());
  }
}

Variant getProperty(Upload& upload, std::string_view name) {
  const Member* m = find(name);
  if (m == nullptr || !m->supports(Kind::Get))
    throw Error(kNoSuchMember, std::string(name) + ": no such property");
  return get(upload, m->id);
}

std::span<const std::string_view> persistedPropertyNames() { return kPersisted; }

}  // namespace kiv::dispatch
