// Files and folders as the control sees them, over each system's listing, and
// the one wording of the layer's errors.
#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

#include "system_parts.hpp"

namespace kiv::fs {

[[noreturn]] void detail::fail(int number, const std::string& path, const std::string& reason) {
  const char* title = number == errc::FileNotFound       ? "File not found"
                      : number == errc::PermissionDenied ? "Permission denied"
                      : number == errc::PathNotFound     ? "Path not found"
                      : number == errc::DiskFull         ? "Disk full"
                                                         : "Path/File access error";
  throw Error(number, std::string(title) + ": '" + path + "': " + reason);
}

using namespace detail;

File::File(std::string path) : path_(std::move(path)) {}

std::string File::Name() const { return lastComponent(path_); }

Folder::Folder(std::string path) : path_(withoutTrailingSeparators(std::move(path))) {}

std::string Folder::Name() const { return lastComponent(path_); }

fs::Files Folder::Files() const {
  std::vector<File> files;
  for (const auto& name : list(path_).files) files.emplace_back(join(path_, name));
  return fs::Files(std::move(files));
}

fs::Folders Folder::SubFolders() const {
  std::vector<Folder> folders;
  for (const auto& name : list(path_).folders) folders.emplace_back(join(path_, name));
  return fs::Folders(std::move(folders));
}

bool Folder::HoldsAnyFile() const {
  std::vector<std::string> folders;
  return !findAnyFile(path_, folders).empty();
}

}  // namespace kiv::fs
