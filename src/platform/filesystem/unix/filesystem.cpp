#include <platform/filesystem/filesystem.hpp>

#include "posix_support.hpp"

#include <platform/host/error.hpp>

#include <algorithm>
#include <cerrno>
#include <compare>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace kiv::fs {
namespace detail {

[[noreturn]] void fail(const std::error_code& ec, PathKind kind, const std::string& path) {
  const std::error_condition condition = ec.default_error_condition();
  const int number = condition.category() == std::generic_category() ? systemErrorNumber(condition.value(), kind)
                                                                     : errc::PathFileAccessError;
  fail(number, path, ec.message());
}

[[noreturn]] void failSystem(int errnoValue, PathKind kind, const std::string& path) {
  fail(std::error_code(errnoValue, std::generic_category()), kind, path);
}

[[noreturn]] void failErrno(PathKind kind, const std::string& path) { failSystem(errno, kind, path); }

FileStamp stampOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
          static_cast<std::int64_t>(status.st_size),
          static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec,
          static_cast<std::int64_t>(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec};
}

bool isMissing(const std::error_code& ec) {
  return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
}

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string lastComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string joined = withoutTrailingSeparators(folder);
  if (joined.back() != '/') joined += '/';
  const auto start = name.find_first_not_of('/');
  return start == std::string::npos ? joined : joined + name.substr(start);
}

}  // namespace detail

namespace {

namespace stdfs = std::filesystem;
using namespace detail;

// Camera numbering order: "IMG_0002.JPG" before "img_0003.jpg".
bool caseFoldedLess(const std::string& a, const std::string& b) {
  const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  const auto order = std::lexicographical_compare_three_way(
      a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return fold(x) <=> fold(y); });
  return order != 0 ? order < 0 : a < b;
}

}  // namespace

namespace detail {

// Visible regular files and real folders of one folder. Links and special
// files are left out: a link could lead a photo, or a whole folder of them,
// in from outside, and a pipe would block whoever opened it.
Listing list(const std::string& folder) {
  Listing listing;
  std::error_code ec;
  stdfs::directory_iterator it(folder, ec);
  if (ec) fail(ec, PathKind::Folder, folder);
  for (const stdfs::directory_iterator end; it != end;) {
    std::string name = it->path().filename().string();
    if (!name.empty() && name.front() != '.') {
      const auto type = it->symlink_status(ec).type();
      if (ec && !isMissing(ec)) fail(ec, PathKind::Folder, it->path().string());
      if (type == stdfs::file_type::regular) listing.files.push_back(std::move(name));
      if (type == stdfs::file_type::directory) listing.folders.push_back(std::move(name));
    }
    it.increment(ec);
    if (ec) fail(ec, PathKind::Folder, folder);
  }
  std::sort(listing.files.begin(), listing.files.end(), caseFoldedLess);
  std::sort(listing.folders.begin(), listing.folders.end(), caseFoldedLess);
  return listing;
}

std::string findAnyFile(const std::string& folder, std::vector<std::string>& folders) {
  std::error_code ec;
  stdfs::directory_iterator it(folder, ec);
  if (ec) fail(ec, PathKind::Folder, folder);
  for (const stdfs::directory_iterator end; it != end;) {
    const std::string child = it->path().string();
    const auto type = it->symlink_status(ec).type();
    if (ec) fail(ec, PathKind::Folder, child);
    if (type != stdfs::file_type::directory) return child;
    if (std::string found = findAnyFile(child, folders); !found.empty()) return found;
    it.increment(ec);
    if (ec) fail(ec, PathKind::Folder, folder);
  }
  folders.push_back(folder);
  return {};
}

}  // namespace detail

bool FileSystemObject::FolderExists(const std::string& path) const {
  std::error_code ec;
  return !path.empty() && stdfs::is_directory(path, ec);
}

std::shared_ptr<Folder> FileSystemObject::GetFolder(const std::string& path) const {
  std::error_code ec;
  const auto status = stdfs::status(path, ec);
  if (ec && !isMissing(ec)) fail(ec, PathKind::Folder, path);
  if (path.empty() || !stdfs::is_directory(status)) fail(errc::PathNotFound, path, "no such folder");
  return std::make_shared<Folder>(path);
}

void FileSystemObject::DeleteFile(const std::string& path, bool force) const {
  std::error_code ec;
  const auto status = stdfs::symlink_status(path, ec);
  if (ec && !isMissing(ec)) fail(ec, PathKind::File, path);
  if (path.empty() || !stdfs::exists(status)) fail(errc::FileNotFound, path, "no such file");
  if (stdfs::is_directory(status)) fail(errc::FileNotFound, path, "this is a folder, not a file");
  if (!force && stdfs::is_regular_file(status) &&
      (status.permissions() & stdfs::perms::owner_write) == stdfs::perms::none) {
    fail(errc::PermissionDenied, path, "the file is read-only");
  }
  // unlink, unlike remove, can never take a folder with it.
  if (::unlink(path.c_str()) != 0) failErrno(PathKind::File, path);
}

void FileSystemObject::DeleteFolder(const std::string& path, bool force) const {
  const std::string folder = withoutTrailingSeparators(path);
  std::error_code ec;
  const auto status = stdfs::status(folder, ec);
  if (ec && !isMissing(ec)) fail(ec, PathKind::Folder, folder);
  if (folder.empty() || !stdfs::is_directory(status)) fail(errc::PathNotFound, path, "no such folder");

  // Check the whole tree first, so a refusal leaves everything as it was.
  std::vector<std::string> folders;
  if (const std::string file = findAnyFile(folder, folders); !file.empty()) {
    fail(errc::PermissionDenied, folder, "the folder still holds '" + file + "'");
  }

  if (stdfs::is_symlink(stdfs::symlink_status(folder, ec))) {
    if (::unlink(folder.c_str()) != 0) failErrno(PathKind::Folder, folder);
    return;
  }
  if (!force) {
    for (const auto& inner : folders) {
      if ((stdfs::status(inner, ec).permissions() & stdfs::perms::owner_write) == stdfs::perms::none) {
        fail(errc::PermissionDenied, inner, "the folder is read-only");
      }
    }
  }
  // rmdir removes empty folders only; a file that turned up meanwhile stays.
  for (const auto& inner : folders) {
    if (::rmdir(inner.c_str()) != 0) failErrno(PathKind::Folder, inner);
  }
}

void CreateFolders(const std::string& path) {
  std::error_code ec;
  stdfs::create_directories(path, ec);
  if (ec) fail(ec, PathKind::Folder, path);
}

std::string FileSystemObject::BuildPath(const std::string& folder, const std::string& name) const {
  return join(folder, name);
}

}  // namespace kiv::fs
