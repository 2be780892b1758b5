// Reading, replacing and deleting single files safely: working copies of
// photos, the deletion of a sent photo, atomic replacement, small files read
// whole, folder locks.
#include <platform/filesystem/filesystem.hpp>

#include "windows_support.hpp"

#include <platform/host/error.hpp>
#include <platform/host/text.hpp>
#include <platform/windows/file_read.hpp>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <random>
#include <vector>

#include <winternl.h>

namespace kiv::fs {
namespace {

using namespace detail;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A link stands in the way: Windows' counterpart of ELOOP.
constexpr DWORD kLinkInTheWay = ERROR_CANT_RESOLVE_FILENAME;

// NtCreateFile opens a name relative to an open folder, as openat does; Win32
// has no such call.
using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using StatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);

constexpr ULONG kOpenExisting = 1;            // FILE_OPEN
constexpr ULONG kSynchronousIo = 0x20;        // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT

template <class Call>
Call ntdllCall(const char* name) {
  return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// Opens `name`, one component, inside `folder` without following it when it is
// a link. 0 or the error code.
DWORD openAt(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, Handle& out) {
  static const auto create = ntdllCall<NtCreateFileCall>("NtCreateFile");
  static const auto toError = ntdllCall<StatusToErrorCall>("RtlNtStatusToDosError");
  if (create == nullptr || toError == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  UNICODE_STRING unicodeName{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                             static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<wchar_t*>(name.c_str())};
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = folder;
  attributes.ObjectName = &unicodeName;
  attributes.Attributes = OBJ_CASE_INSENSITIVE;
  IO_STATUS_BLOCK status{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS result = create(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, 0, share, kOpenExisting,
                                 kSynchronousIo | kOpenReparsePoint, nullptr, 0);
  if (result < 0) return toError(result);
  out = Handle(handle);
  return 0;
}

// The folder holding a path's last part, opened, and that part's name; no
// folder when the path is to be opened by its whole name.
struct Location {
  Handle folder;
  std::wstring leaf;
};

// Finds where a path leads. Below `root`, when one is given, the path must lie
// inside it and every part is followed without going through a link; the root
// itself may be one. 0, or the error code of the step that failed.
DWORD locate(const std::string& root, const std::string& path, Location& out) {
  if (root.empty()) {
    out.leaf = widen(lastComponent(path));
    return out.leaf.empty() ? ERROR_PATH_NOT_FOUND : 0;
  }
  const std::string base = withoutTrailingSeparators(root);
  std::size_t start = base.size();
  if (path.size() <= start || !text::equalsIgnoringCase(std::string_view(path).substr(0, start), base)) {
    return ERROR_ACCESS_DENIED;
  }
  if (!isSeparator(base.back())) {
    if (!isSeparator(path[start])) return ERROR_ACCESS_DENIED;
    ++start;
  }

  std::vector<std::wstring> parts;
  for (;;) {
    const auto separator = path.find_first_of("\\/", start);
    const std::string part =
        path.substr(start, separator == std::string::npos ? std::string::npos : separator - start);
    // Win32 drops trailing dots and spaces, so "..", ". " and "..." all climb;
    // a colon names a stream or a drive.
    if (part.find_first_not_of(". ") == std::string::npos || part.find(':') != std::string::npos) {
      return ERROR_ACCESS_DENIED;
    }
    parts.push_back(widen(part));
    if (separator == std::string::npos) break;
    start = separator + 1;
  }
  Handle folder(openPath(base, FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS));
  if (!folder.valid()) return GetLastError();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    Handle inner;
    if (const DWORD error = openAt(folder.get(), parts[i], FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll, inner)) {
      return error;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(inner.get(), &info)) return GetLastError();
    if (handleIsLink(inner.get(), info.dwFileAttributes)) return kLinkInTheWay;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
    folder = std::move(inner);
  }
  out.folder = std::move(folder);
  out.leaf = parts.back();
  return 0;
}

// Opens the located file; a link at the end is opened itself when `noFollow`,
// and always below a root.
DWORD open(const Location& at, const std::string& path, ACCESS_MASK access, bool noFollow, Handle& out) {
  if (at.folder.valid()) return openAt(at.folder.get(), at.leaf, access, kShareAll, out);
  out = Handle(openPath(path, access, kShareAll, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0)));
  return out.valid() ? 0 : GetLastError();
}

std::string randomHex(int digits) {
  std::random_device random;
  std::string hex;
  while (static_cast<int>(hex.size()) < digits) {
    char chunk[9];
    std::snprintf(chunk, sizeof chunk, "%08x", random());
    hex += chunk;
  }
  hex.resize(static_cast<std::size_t>(digits));
  return hex;
}

bool writeAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// Copies what is readable from `from`, from its start, into the new file `to`;
// the byte count, or -1 with the last error set.
std::int64_t copyContent(HANDLE from, const std::string& to) {
  const Handle out(openPath(to, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  if (!out.valid()) return -1;
  std::vector<char> buffer(256 * 1024);
  std::int64_t copied = 0;
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(copied);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(copied) >> 32);
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    if (!writeAll(out.get(), buffer.data(), got)) return -1;
    copied += got;
  }
  return copied;
}

// %TEMP%\kivphoto-<user>: made on first use and refused when it is a link. It
// needs no permissions of its own: the user's temporary folder is private.
std::string privateWorkFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) failLast(PathKind::Folder, "the temporary folder");
  wchar_t user[257];
  DWORD userLength = 257;
  std::wstring name = GetUserNameW(user, &userLength) ? std::wstring(user) : L"user";
  for (wchar_t& c : name) {
    if (c < 32 || std::wcschr(L"<>:\"/\\|?*", c) != nullptr) c = L'_';
  }
  const std::string folder = join(narrow(std::wstring(temp, length)), "kivphoto-" + narrow(name));
  if (!CreateDirectoryW(widen(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    failLast(PathKind::Folder, folder);
  }
  const DWORD attributes = GetFileAttributesW(widen(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) failLast(PathKind::Folder, folder);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    fail(errc::PermissionDenied, folder, "the working folder is not a folder of its own");
  }
  return folder;
}

bool processRuns(DWORD id) {
  const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process.valid()) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  return !GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE;
}

// Working folders are named "<pid>-XXXXXXXX" and held open without sharing
// deletion while in use; one whose process is gone and that nobody holds was
// left by a crash or a kill.
void removeStaleCopies(const std::string& workFolder) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(widen(join(workFolder, "*-*")).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = narrow(entry.cFileName);
    char* rest = nullptr;
    const unsigned long pid = std::strtoul(name.c_str(), &rest, 10);
    if (pid == 0 || rest == name.c_str() || *rest != '-' || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      continue;
    }
    if (processRuns(static_cast<DWORD>(pid))) continue;
    const std::string stale = join(workFolder, name);
    if (!Handle(openPath(stale, DELETE, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT))
             .valid()) {
      continue;
    }
    removeTree(stale);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

}  // namespace

PhotoFile::PhotoFile(const std::string& path, const std::string& photoFolder) : path_(path) {
  Location at;
  if (const DWORD error = locate(photoFolder, path, at)) failWindows(error, PathKind::File, path);
  // Below the photo folder never reads through a link.
  Handle in;
  if (const DWORD error = open(at, path, FILE_GENERIC_READ, !photoFolder.empty(), in)) {
    failWindows(error, PathKind::File, path);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  // Only a file on a disk: a pipe or a device could keep the reader waiting.
  if (GetFileType(in.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(in.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || handleIsLink(in.get(), info.dwFileAttributes)) {
    fail(errc::FileNotFound, path, "not a regular file");
  }
  opened_ = stampOf(in.get(), info);
  descriptor_ = reinterpret_cast<std::intptr_t>(in.release());
}

PhotoFile::~PhotoFile() { CloseHandle(reinterpret_cast<HANDLE>(descriptor_)); }

namespace detail {

FileStamp stampOfOpen(std::intptr_t descriptor, const std::string& path) {
  const HANDLE handle = reinterpret_cast<HANDLE>(descriptor);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) failLast(PathKind::File, path);
  return stampOf(handle, info);
}

void writeNewFile(const std::string& to, std::string_view content) {
  const Handle out(openPath(to, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  if (!out.valid() || !writeAll(out.get(), content.data(), content.size())) failLast(PathKind::Folder, to);
}

std::int64_t copyWhole(std::intptr_t descriptor, const std::string& from, const std::string& to) {
  const std::int64_t copied = copyContent(reinterpret_cast<HANDLE>(descriptor), to);
  if (copied < 0) failLast(PathKind::File, from);
  return copied;
}

}  // namespace detail

std::string PhotoFile::read(std::uint64_t offset, std::size_t size) const {
  std::string bytes(size, '\0');
  std::size_t got = 0;
  if (!winapi::readAt(reinterpret_cast<HANDLE>(descriptor_), offset, bytes.data(), size, got))
    failLast(PathKind::File, path_);
  bytes.resize(got);
  return bytes;
}

void WorkingCopy::makeFolder(const std::string& name) {
  const std::string workFolder = privateWorkFolder();
  removeStaleCopies(workFolder);
  for (;;) {
    const std::string folder = join(workFolder, std::to_string(GetCurrentProcessId()) + "-" + randomHex(8));
    if (CreateDirectoryW(widen(folder).c_str(), nullptr)) {
      folder_ = folder;
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) failLast(PathKind::Folder, folder);
  }
  folderLock_ = reinterpret_cast<std::intptr_t>(openPath(folder_, FILE_READ_ATTRIBUTES,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  path_ = join(folder_, name);
}

void WorkingCopy::discard() {
  // The hold goes first: it keeps the folder itself from being removed.
  if (folderLock_ != -1) CloseHandle(reinterpret_cast<HANDLE>(folderLock_));
  folderLock_ = -1;
  if (!folder_.empty()) removeTree(folder_);
  folder_.clear();
}

// Two holders of a folder opened for adding files (an access nobody else
// asks for on a folder) that both refuse to share writing exclude each other,
// across processes, while listing, reading and deleting inside go on.
FolderLock::FolderLock(const std::string& folder)
    : descriptor_(reinterpret_cast<std::intptr_t>(openPath(folder, FILE_ADD_FILE | FILE_READ_ATTRIBUTES,
                                                            FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING,
                                                            FILE_FLAG_BACKUP_SEMANTICS))) {
  const HANDLE handle = reinterpret_cast<HANDLE>(descriptor_);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
      fail(errc::PermissionDenied, folder, "another upload of this photo folder is running; try again when it has finished");
    }
    failWindows(error, PathKind::Folder, folder);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    fail(errc::PathNotFound, folder, "not a folder");
  }
}

FolderLock::~FolderLock() { CloseHandle(reinterpret_cast<HANDLE>(descriptor_)); }

bool FileSystemObject::DeleteFileIfUnchanged(const std::string& path, const FileStamp& expected,
                                             const std::string& photoFolder) const {
  Location at;
  Handle file;
  DWORD error = locate(photoFolder, path, at);
  if (error == 0) error = open(at, path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, true, file);
  if (error != 0) {
    if (isMissing(error)) return true;          // taken, or its folder with it
    if (error == kLinkInTheWay) return false;  // a link now stands in the way
    failWindows(error, PathKind::File, path);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) failLast(PathKind::File, path);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || handleIsLink(file.get(), info.dwFileAttributes) ||
      !(stampOf(file.get(), info) == expected)) {
    return false;
  }
  // Deleted through the handle that was checked: no other file can take its place.
  error = deleteByHandle(file.get(), info.dwFileAttributes);
  if (error != 0 && !isMissing(error)) failWindows(error, PathKind::File, path);
  return true;
}

void ReplaceFileAtomically(const std::string& path, std::string_view content, std::optional<std::uint32_t> mode) {
  const std::string folder = parentOf(path);
  const std::wstring target = widen(path);
  const DWORD old = GetFileAttributesW(target.c_str());
  const bool oldReadOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) &&
                           !(old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  const bool oldFile = old != INVALID_FILE_ATTRIBUTES && !(old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  // Without a mode the caller writes over a file whose permissions are not its
  // own to decide (a picture): a read-only one is refused, as writing to it
  // would be, and the new content keeps the old file's attributes, security
  // and creation time.
  const bool keepOld = !mode && oldFile;
  if (keepOld && oldReadOnly) failWindows(ERROR_ACCESS_DENIED, PathKind::File, path);
  const bool readOnly = mode && (*mode & 0200) == 0;

  std::string temporary;
  Handle file;
  while (!file.valid()) {
    temporary = join(folder, ".kiv-" + randomHex(12));
    file = Handle(openPath(temporary, GENERIC_WRITE | FILE_WRITE_ATTRIBUTES | DELETE, 0, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL));
    if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS) failLast(PathKind::Folder, path);
  }
  struct Cleanup {
    Handle& file;
    const std::string& name;
    bool renamed = false;
    ~Cleanup() {
      if (renamed) return;
      if (file.valid()) {
        deleteByHandle(file.get(), 0);
      } else {
        const std::wstring wide = widen(name);
        SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wide.c_str());
      }
    }
  } cleanup{file, temporary};

  FILE_BASIC_INFO basic{};
  basic.FileAttributes = readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  if (!writeAll(file.get(), content.data(), content.size()) || !FlushFileBuffers(file.get()) ||
      (readOnly && !SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic))) {
    failLast(PathKind::Folder, path);
  }
  file.reset();
  if (keepOld) {
    if (!ReplaceFileW(target.c_str(), widen(temporary).c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                      nullptr)) {
      DWORD error = GetLastError();
      // The old file is gone and the new one still waits under its own name:
      // the new content is the better thing to leave at the path.
      if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
          !MoveFileExW(widen(temporary).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (error == ERROR_UNABLE_TO_REMOVE_REPLACED) error = ERROR_ACCESS_DENIED;
        failWindows(error, PathKind::File, path);
      }
    }
    cleanup.renamed = true;
    return;
  }
  // Windows refuses to replace a read-only file, which a rename on POSIX does;
  // the attribute is put back when the replacement fails.
  if (oldReadOnly) SetFileAttributesW(target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  if (!MoveFileExW(widen(temporary).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    if (oldReadOnly) SetFileAttributesW(target.c_str(), old);
    failWindows(error, PathKind::Folder, path);
  }
  cleanup.renamed = true;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes) {
  const Handle in(openPath(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!in.valid()) {
    const DWORD error = GetLastError();
    if (isMissing(error)) return std::nullopt;
    failWindows(error, PathKind::File, path);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(in.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(in.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    fail(errc::PathFileAccessError, path, "not a regular file");
  }
  std::string content;
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      failLast(PathKind::File, path);
    }
    if (got == 0) return content;
    if (got > maxBytes - content.size()) {
      fail(errc::PathFileAccessError, path, "larger than " + std::to_string(maxBytes) + " bytes");
    }
    content.append(buffer.data(), got);
  }
}

}  // namespace kiv::fs
