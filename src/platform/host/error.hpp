#pragma once

#include <platform/export.hpp>

#include <stdexcept>
#include <string>

namespace kiv {

// The classic runtime error numbers that callers and the component boundary
// understand (the boundary reports 0x800A0000 + number).
namespace errc {
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int BadFileNameOrNumber = 52;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ControlArrayElementDoesNotExist = 340;
inline constexpr int ObjectAlreadyLoaded = 360;
inline constexpr int ObjectDoesNotSupportAction = 445;
inline constexpr int InvalidPicture = 481;
}  // namespace errc

// What a failed system call was about. "No such entry" does not say which part
// of a path is missing, so the caller says what it was after: a file (53 file
// not found) or a folder (76 path not found).
enum class PathKind { File, Folder };

// The one table from system errors (errno values) to classic numbers, used by
// every layer that touches the system:
//   ENOENT, ENOTDIR                     53 for a file, 76 for a folder
//   EACCES, EPERM, EROFS, ENOTEMPTY     70
//   ENOSPC, EDQUOT, EFBIG               61
//   anything else                       75
KIV_EXPORT int systemErrorNumber(int errnoValue, PathKind kind);

#ifdef _WIN32
// The same table for Windows system error codes (GetLastError(), and the
// std::system_category codes of std::filesystem on Windows):
//   ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_DIRECTORY,
//   ERROR_INVALID_NAME, ERROR_BAD_PATHNAME, ERROR_INVALID_DRIVE,
//   ERROR_BAD_NETPATH, ERROR_BAD_NET_NAME     53 for a file, 76 for a folder
//   ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION,
//   ERROR_WRITE_PROTECT, ERROR_DIR_NOT_EMPTY, ERROR_CURRENT_DIRECTORY,
//   ERROR_PRIVILEGE_NOT_HELD                  70
//   ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL,
//   ERROR_FILE_TOO_LARGE, ERROR_DISK_QUOTA_EXCEEDED   61
//   anything else                             75
KIV_EXPORT int windowsErrorNumber(unsigned long code, PathKind kind);

// The system's own words for a Windows error code, in UTF-8.
KIV_EXPORT std::string windowsErrorMessage(unsigned long code);
#endif

// A failing step ends the procedure; the error travels to the caller carrying
// its classic number and a message a person can act on.
class KIV_EXPORT Error : public std::runtime_error {
 public:
  Error(int number, const std::string& message);

  int number() const noexcept { return number_; }

 private:
  int number_;
};

}  // namespace kiv
