#pragma once

// Internal to the file-system layer: what its sources share over Win32.

#include <platform/filesystem/filesystem.hpp>

#include <platform/host/error.hpp>
#include <platform/windows/utf16.hpp>

#include "../system_parts.hpp"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include <windows.h>
// <windows.h> would rename FileSystemObject::DeleteFile to DeleteFileA.
#undef DeleteFile

namespace kiv::fs::detail {

// Paths cross the layer as UTF-8; Win32 and std::filesystem get UTF-16, never
// the narrow forms, which the system reads in the ANSI code page.
using winapi::narrow;
using winapi::widen;
inline std::filesystem::path toPath(const std::string& utf8) { return std::filesystem::path(widen(utf8)); }
inline std::string fromPath(const std::filesystem::path& path) { return narrow(path.wstring()); }

// How the layer's failures become kiv::Error: the number from
// windowsErrorNumber (or systemErrorNumber for errno codes), the message
// naming the path and the system's reason.
[[noreturn]] void fail(const std::error_code& ec, PathKind kind, const std::string& path);
[[noreturn]] void failWindows(DWORD code, PathKind kind, const std::string& path);
[[noreturn]] void failLast(PathKind kind, const std::string& path);
// The codes that say a path leads nowhere (ENOENT, ENOTDIR).
bool isMissing(DWORD code);

FileStamp stampOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info);

// Symbolic links, junctions and other reparse points that stand for another
// name; other reparse points (cloud placeholders, deduplicated files) are
// ordinary files.
bool isLink(DWORD attributes, DWORD reparseTag);
// The handle's file is a link, by its own attributes and tag.
bool handleIsLink(HANDLE handle, DWORD attributes);

constexpr bool isSeparator(char c) { return c == '\\' || c == '/'; }
std::string parentOf(const std::string& path);

// Closes a handle when its owner goes.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  void reset() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// CreateFileW with a UTF-8 path.
HANDLE openPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// Deletes the file (or the link, or the empty folder) the handle was opened on,
// the handle having DELETE and FILE_WRITE_ATTRIBUTES access; the read-only
// attribute is cleared first (and put back when the deletion fails). 0 or the
// error code.
DWORD deleteByHandle(HANDLE handle, DWORD attributes);

// Removes a tree without ever following a link inside it: links are removed
// themselves. Failures are ignored; what could not be removed stays.
void removeTree(const std::string& path);

}  // namespace kiv::fs::detail
