#pragma once

// Late-bound access to the members of _Upload: a table of the 25 members and an
// invoke by dispatch identifier or by name (names compare case-insensitively).
// invoke never throws; it answers a status code:
//   0                      success
//   0x800A0000 + number    the control raised kiv::Error(number)
//   kUnknownMember         DISP_E_UNKNOWNNAME: no member with that name or id
//   kWrongKind             DISP_E_MEMBERNOTFOUND: the member has no accessor of
//                          that kind (e.g. let on a method, let on oFs)
//   kWrongArgumentCount    DISP_E_BADPARAMCOUNT
//   kTypeMismatch          DISP_E_TYPEMISMATCH: an object assignment (set) given
//                          anything but Empty (Nothing); objects do not travel
//                          through a Variant
//   kOutOfMemory, kFailed  E_OUTOFMEMORY, E_FAIL for any other failure
// Arguments come in declaration order. By-reference parameters (the file name
// of kivFTPUpload and kivResizeImages) are written back into args.
//
// letProperty is the by-name property assignment hosts use for settings from a
// command line or a file; it throws kiv::Error naming the property.

#include <control/typelib.hpp>
#include <platform/export.hpp>
#include <platform/host/variant.hpp>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {
class Upload;
}

namespace kiv::dispatch {

using DispId = std::int32_t;

// Invocation kinds, with the values of DISPATCH_METHOD, DISPATCH_PROPERTYGET,
// DISPATCH_PROPERTYPUT and DISPATCH_PROPERTYPUTREF.
enum class Kind : std::uint16_t { Method = 1, Get = 2, Let = 4, Set = 8 };

enum class Type { Void, Variant, String, Int16, Bool, FileSystemObject, Folder, Folders, File };

inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kControlErrorBase = 0x800A0000u;
inline constexpr std::uint32_t kWrongKind = 0x80020003u;           // DISP_E_MEMBERNOTFOUND
inline constexpr std::uint32_t kTypeMismatch = 0x80020005u;        // DISP_E_TYPEMISMATCH
inline constexpr std::uint32_t kUnknownMember = 0x80020006u;       // DISP_E_UNKNOWNNAME
inline constexpr std::uint32_t kWrongArgumentCount = 0x8002000Eu;  // DISP_E_BADPARAMCOUNT
inline constexpr std::uint32_t kOutOfMemory = 0x8007000Eu;         // E_OUTOFMEMORY
inline constexpr std::uint32_t kFailed = 0x80004005u;              // E_FAIL

// What the exception being handled means at the component boundary: its status
// (0x800A0000 + number for a control error) and its text, valid while the
// handler runs. Call only from inside a catch block.
struct Failure {
  std::uint32_t status;
  const char* text;
  bool controlError;
};
Failure currentFailure() noexcept;

struct Member {
  std::string_view name;
  DispId id;
  std::uint16_t kinds;      // bitwise or of Kind values
  Type type;                // property type, or the result type of a method
  int parameterCount;       // of the method; properties take 0 (get) or 1 (let/set)
  std::string_view parameterName;  // the method's parameter or the let accessor's value
  bool byReference;         // the method's parameter is written back

  bool supports(Kind kind) const { return (kinds & static_cast<std::uint16_t>(kind)) != 0; }
};

// The 25 members of _Upload in interface order.
KIV_EXPORT std::span<const Member> members();
KIV_EXPORT const Member* find(DispId id);
KIV_EXPORT const Member* find(std::string_view name);

KIV_EXPORT std::uint32_t invoke(Upload& upload, DispId id, Kind kind,
                                std::vector<host::Variant>& args, host::Variant& result) noexcept;
KIV_EXPORT std::uint32_t invoke(Upload& upload, std::string_view name, Kind kind,
                                std::vector<host::Variant>& args, host::Variant& result) noexcept;

// The message of the failure behind the last non-zero status on this thread.
KIV_EXPORT const std::string& lastErrorMessage() noexcept;

// Assigns a property by name (case-insensitive) through its let accessor.
// Throws kiv::Error: 438 for a name that is no property taking a value, or the
// control's own error with the property named, e.g.
// "UserID: Overflow: 40000 is out of range" (number 6).
KIV_EXPORT void letProperty(Upload& upload, std::string_view name, const host::Variant& value);
// Reads a property or exposed variable by name; kiv::Error 438 when it has no get.
KIV_EXPORT host::Variant getProperty(Upload& upload, std::string_view name);

// The twelve keys the control keeps in a property bag, in the order it writes them.
KIV_EXPORT std::span<const std::string_view> persistedPropertyNames();

}  // namespace kiv::dispatch
