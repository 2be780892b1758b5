#include <platform/filesystem/filesystem.hpp>

#include "windows_support.hpp"

#include <platform/host/error.hpp>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <system_error>
#include <utility>

namespace kiv::fs {
namespace detail {

[[noreturn]] void fail(const std::error_code& ec, PathKind kind, const std::string& path) {
  // libstdc++ reports what it got from Win32 in the system category and what it
  // got from the C runtime in the generic one.
  if (ec.category() == std::system_category()) failWindows(static_cast<DWORD>(ec.value()), kind, path);
  const int number =
      ec.category() == std::generic_category() ? systemErrorNumber(ec.value(), kind) : errc::PathFileAccessError;
  fail(number, path, ec.message());
}

[[noreturn]] void failWindows(DWORD code, PathKind kind, const std::string& path) {
  fail(windowsErrorNumber(code, kind), path, windowsErrorMessage(code));
}

[[noreturn]] void failLast(PathKind kind, const std::string& path) { failWindows(GetLastError(), kind, path); }

bool isMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY;
}

FileStamp stampOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  const auto wide = [](DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; };
  // FILETIME counts 100 ns from 1601; from 1970 in ns it fits an int64 until 2262.
  constexpr std::int64_t kUnixEpoch = 116444736000000000;
  const auto written = static_cast<std::int64_t>(wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
  // The change time is not among the handle's plain information. A file system
  // without one (FAT) answers 0, every time alike.
  FILE_BASIC_INFO basic{};
  const std::int64_t changed = GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)
                                   ? (basic.ChangeTime.QuadPart - kUnixEpoch) * 100
                                   : 0;
  return {info.dwVolumeSerialNumber, wide(info.nFileIndexHigh, info.nFileIndexLow),
          static_cast<std::int64_t>(wide(info.nFileSizeHigh, info.nFileSizeLow)), (written - kUnixEpoch) * 100,
          changed};
}

bool isLink(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (reparseTag & 0x20000000) != 0;
}

bool handleIsLink(HANDLE handle, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  return isLink(attributes, tag.ReparseTag);
}

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && isSeparator(path.back()) && !(path.size() == 3 && path[1] == ':')) path.pop_back();
  return path;
}

std::string lastComponent(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string parentOf(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  if (separator == 0 || (separator == 2 && path[1] == ':')) return path.substr(0, separator + 1);
  return path.substr(0, separator);
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string joined = withoutTrailingSeparators(folder);
  if (!isSeparator(joined.back())) joined += '\\';
  const auto start = name.find_first_not_of("\\/");
  return start == std::string::npos ? joined : joined + name.substr(start);
}

HANDLE openPath(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  return CreateFileW(widen(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

DWORD deleteByHandle(HANDLE handle, DWORD attributes) {
  constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY;
  FILE_BASIC_INFO basic{};
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) {
    basic.FileAttributes = attributes & kSettable & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) return GetLastError();
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) return 0;
  const DWORD error = GetLastError();
  if (readOnly) {
    basic.FileAttributes = attributes & kSettable;
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  return error;
}

void removeTree(const std::string& path) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileExW(widen(join(path, "*")).c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::string child = join(path, narrow(name));
      const std::wstring wideChild = widen(child);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(wideChild.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      }
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(wideChild.c_str());
      } else {
        // A link to a folder (any reparse point here) goes itself, never what it leads to.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) removeTree(child);
        RemoveDirectoryW(wideChild.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(widen(path).c_str());
}

}  // namespace detail

namespace {

using namespace detail;

struct Entry {
  std::wstring key;  // the name case folded, as Explorer compares names
  std::wstring name;
  friend bool operator<(const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.name < b.name;
  }
};

std::wstring caseFolded(const std::wstring& name) {
  std::wstring folded(name);
  if (!name.empty()) {
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, name.data(), static_cast<int>(name.size()), folded.data(),
                  static_cast<int>(folded.size()), nullptr, nullptr, 0);
  }
  return folded;
}

std::vector<std::string> sortedNames(std::vector<Entry>& entries) {
  std::sort(entries.begin(), entries.end());
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (const Entry& entry : entries) names.push_back(narrow(entry.name));
  return names;
}

// The attributes of what the path leads to, links followed; 0 or the error code.
DWORD followedAttributes(const std::string& path, DWORD& attributes) {
  const Handle handle(openPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return GetLastError();
  attributes = info.dwFileAttributes;
  return 0;
}

// Calls `each` with every entry of the folder but "." and "..".
template <class Each>
void forEachEntry(const std::string& folder, Each each) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileExW(widen(join(folder, "*")).c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DWORD attributes = 0;
    // No match at all is an empty drive root, which has no "." entry.
    if (error == ERROR_FILE_NOT_FOUND && followedAttributes(folder, attributes) == 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return;
    }
    failWindows(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error, PathKind::Folder, folder);
  }
  struct Closer {
    HANDLE search;
    ~Closer() { FindClose(search); }
  } closer{search};
  do {
    if (std::wcscmp(entry.cFileName, L".") != 0 && std::wcscmp(entry.cFileName, L"..") != 0) each(entry);
  } while (FindNextFileW(search, &entry));
  if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) failWindows(error, PathKind::Folder, folder);
}

}  // namespace

namespace detail {

// Visible regular files and real folders of one folder. Links, devices and
// hidden or system entries are left out: a link could lead a photo, or a whole
// folder of them, in from outside, and hidden entries are the system's own.
Listing list(const std::string& folder) {
  std::vector<Entry> files;
  std::vector<Entry> folders;
  forEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    const DWORD attributes = entry.dwFileAttributes;
    if (entry.cFileName[0] == L'.' || isLink(attributes, entry.dwReserved0) ||
        (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE)) != 0) {
      return;
    }
    auto& into = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? folders : files;
    into.push_back({caseFolded(entry.cFileName), entry.cFileName});
  });
  return {sortedNames(files), sortedNames(folders)};
}

std::string findAnyFile(const std::string& folder, std::vector<std::string>& folders) {
  std::string found;
  std::vector<std::string> inner;
  forEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    if (!found.empty()) return;
    const std::string child = join(folder, narrow(entry.cFileName));
    const bool realFolder =
        (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink(entry.dwFileAttributes, entry.dwReserved0);
    if (realFolder) {
      inner.push_back(child);
    } else {
      found = child;
    }
  });
  if (!found.empty()) return found;
  for (const auto& child : inner) {
    if (std::string file = findAnyFile(child, folders); !file.empty()) return file;
  }
  folders.push_back(folder);
  return {};
}

// Whether the path itself (not what it leads to) is a link; 0 or the error code.
DWORD pathIsLink(const std::string& path, bool& link) {
  const Handle handle(openPath(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) return GetLastError();
  link = handleIsLink(handle.get(), info.dwFileAttributes);
  return 0;
}

}  // namespace detail

bool FileSystemObject::FolderExists(const std::string& path) const {
  DWORD attributes = 0;
  return !path.empty() && followedAttributes(path, attributes) == 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::shared_ptr<Folder> FileSystemObject::GetFolder(const std::string& path) const {
  DWORD attributes = 0;
  const DWORD error = path.empty() ? ERROR_PATH_NOT_FOUND : followedAttributes(path, attributes);
  if (error != 0 && !isMissing(error)) failWindows(error, PathKind::Folder, path);
  if (error != 0 || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) fail(errc::PathNotFound, path, "no such folder");
  return std::make_shared<Folder>(path);
}

void FileSystemObject::DeleteFile(const std::string& path, bool force) const {
  if (path.empty()) fail(errc::FileNotFound, path, "no such file");
  // Opened itself, never what a link leads to, and deleted through this very
  // handle, so what was checked is what goes.
  const Handle file(openPath(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) {
    const DWORD error = GetLastError();
    if (isMissing(error)) fail(errc::FileNotFound, path, "no such file");
    failWindows(error, PathKind::File, path);
  }
  const bool link = handleIsLink(file.get(), info.dwFileAttributes);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
    fail(errc::FileNotFound, path, "this is a folder, not a file");
  }
  if (!force && !link && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    fail(errc::PermissionDenied, path, "the file is read-only");
  }
  if (const DWORD error = deleteByHandle(file.get(), info.dwFileAttributes)) failWindows(error, PathKind::File, path);
}

void FileSystemObject::DeleteFolder(const std::string& path, bool force) const {
  const std::string folder = withoutTrailingSeparators(path);
  DWORD attributes = 0;
  const DWORD error = folder.empty() ? ERROR_PATH_NOT_FOUND : followedAttributes(folder, attributes);
  if (error != 0 && !isMissing(error)) failWindows(error, PathKind::Folder, folder);
  if (error != 0 || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) fail(errc::PathNotFound, path, "no such folder");

  // Check the whole tree first, so a refusal leaves everything as it was.
  std::vector<std::string> folders;
  if (const std::string file = findAnyFile(folder, folders); !file.empty()) {
    fail(errc::PermissionDenied, folder, "the folder still holds '" + file + "'");
  }

  bool link = false;
  if (const DWORD linkError = pathIsLink(folder, link)) failWindows(linkError, PathKind::Folder, folder);
  if (link) {
    const Handle handle(openPath(folder, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info)) failLast(PathKind::Folder, folder);
    if (const DWORD deleteError = deleteByHandle(handle.get(), info.dwFileAttributes)) {
      failWindows(deleteError, PathKind::Folder, folder);
    }
    return;
  }
  std::vector<DWORD> folderAttributes;
  for (const auto& inner : folders) {
    const DWORD innerAttributes = GetFileAttributesW(widen(inner).c_str());
    if (!force && innerAttributes != INVALID_FILE_ATTRIBUTES && (innerAttributes & FILE_ATTRIBUTE_READONLY)) {
      fail(errc::PermissionDenied, inner, "the folder is read-only");
    }
    folderAttributes.push_back(innerAttributes);
  }
  // RemoveDirectory takes empty folders only (and a link itself); a file that
  // turned up meanwhile stays.
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const std::wstring inner = widen(folders[i]);
    if (folderAttributes[i] != INVALID_FILE_ATTRIBUTES && (folderAttributes[i] & FILE_ATTRIBUTE_READONLY)) {
      SetFileAttributesW(inner.c_str(), folderAttributes[i] & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!RemoveDirectoryW(inner.c_str())) failLast(PathKind::Folder, folders[i]);
  }
}

bool FileSystemObject::IsLink(const std::string& path) const {
  bool link = false;
  return !path.empty() && pathIsLink(path, link) == 0 && link;
}

void CreateFolders(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(toPath(path), ec);
  if (ec) fail(ec, PathKind::Folder, path);
}

std::string FileSystemObject::BuildPath(const std::string& folder, const std::string& name) const {
  return join(folder, name);
}

}  // namespace kiv::fs
