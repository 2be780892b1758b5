#pragma once

#include <platform/export.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The disk as the control sees it: a file-system object with folders, files and
// their collections, over std::filesystem.
//
// Contract:
// - A Folder holds only its path; every Files()/SubFolders() call reads the disk
//   anew. The collections they return are snapshots taken at the call.
// - Listings are sorted by name, case folded (ties by exact name), and leave out
//   names starting with "." (hidden companion files). A symlink is listed as what
//   it points to; any entry that is not a folder is listed as a file.
// - DeleteFolder never deletes a file and never follows a symlink inside the tree.
// - Every failure is a kiv::Error: 53 file not found, 70 permission denied,
//   76 path not found, 75 other access errors; the message names the path and the
//   system's reason.
namespace kiv::fs {

template <class T>
class Collection {
 public:
  Collection() = default;
  explicit Collection(std::vector<T> items) : items_(std::move(items)) {}

  std::size_t Count() const { return items_.size(); }
  const T& operator[](std::size_t index) const { return items_.at(index); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T> items_;
};

class KIV_EXPORT File {
 public:
  explicit File(std::string path);

  std::string Name() const;  // bare name with its extension
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class Files : public Collection<File> {
 public:
  using Collection::Collection;
};

class Folders;

class KIV_EXPORT Folder {
 public:
  explicit Folder(std::string path);

  std::string Name() const;
  const std::string& Path() const { return path_; }

  fs::Files Files() const;
  fs::Folders SubFolders() const;

  // True when a file (hidden ones and links included) is left anywhere inside,
  // at any depth; DeleteFolder refuses such a folder.
  bool HoldsAnyFile() const;

 private:
  std::string path_;
};

class Folders : public Collection<Folder> {
 public:
  using Collection::Collection;
};

class KIV_EXPORT FileSystemObject {
 public:
  bool FolderExists(const std::string& path) const;
  std::shared_ptr<Folder> GetFolder(const std::string& path) const;

  // force: a read-only file (no owner write permission) is deleted too. Folders
  // are never deleted here.
  void DeleteFile(const std::string& path, bool force) const;

  // Removes the folder with the empty folders inside it, only when no file is
  // left anywhere inside (70 otherwise, nothing removed). Without force a
  // read-only folder in the tree is refused as well. A symlink given as the path
  // is removed itself; its target is never touched.
  void DeleteFolder(const std::string& path, bool force) const;

  // Joins with the platform separator, exactly one between the two parts.
  std::string BuildPath(const std::string& folder, const std::string& name) const;
};

}  // namespace kiv::fs
