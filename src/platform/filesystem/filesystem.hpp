#pragma once

#include <platform/export.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The disk as the control sees it: a file-system object with folders, files and
// their collections, working copies, atomic replacement, small files read whole
// and folder locks, over std::filesystem and the system's own calls (POSIX or
// Win32). Code above platform/ reads and writes files only through here. Paths
// are UTF-8 on every system.
//
// Contract:
// - A Folder holds only its path; every Files()/SubFolders() call reads the disk
//   anew. The collections they return are snapshots taken at the call.
// - Listings are sorted by name, case folded (ties by exact name), and hold only
//   regular files and real folders: names starting with "." (hidden companion
//   files), on Windows also hidden and system ones, links (to files or folders;
//   on Windows symbolic links and junctions) and special files are left out.
//   The folder listed may itself be reached through a link.
// - DeleteFolder never deletes a file and never follows a link inside the tree.
// - Every failure is a kiv::Error numbered by kiv::systemErrorNumber (or, on
//   Windows, kiv::windowsErrorNumber; platform/host/error.hpp): 53 a missing file, 76 a missing folder, 70
//   permission denied, 61 disk full, 75 other access errors; the message names
//   the path and the system's reason.
namespace kiv::fs {

// Which file a name led to, and its size, modification and status-change time
// then: a name may later lead to another file, or the file may have changed.
// The status-change time is the system's own, moved on by every write and
// every change of the file's times: a writer that puts the size and the
// modification time back after rewriting a photo still shows in it.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNanoseconds = 0;
  std::int64_t changedNanoseconds = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// A photo opened for sending, read through its one descriptor only, never
// through the path again. The original is opened without blocking (a pipe is
// refused, never waited on) and must be a regular file. Given the photo
// folder, the path must lie below it and no part of it below the folder may be
// a link: nothing outside the folder is read as one of its photos.
class KIV_EXPORT PhotoFile {
 public:
  explicit PhotoFile(const std::string& path, const std::string& photoFolder = {});
  ~PhotoFile();
  PhotoFile(const PhotoFile&) = delete;
  PhotoFile& operator=(const PhotoFile&) = delete;

  const std::string& path() const { return path_; }
  // A descriptor (a HANDLE on Windows) owned here. Readers read at explicit
  // offsets or seek first: they share its file position.
  std::intptr_t descriptor() const { return descriptor_; }
  // The file as it was opened.
  const FileStamp& opened() const { return opened_; }
  // Up to size bytes from offset; fewer at the end of the file.
  std::string read(std::uint64_t offset, std::size_t size) const;
  // Throws 75 ("the file changed while it was read") when the file's size,
  // modification or status-change time moved since it was opened: a dock
  // still writing it. Called after the last read, it vouches for all of them.
  void checkUnchanged() const;

 private:
  std::string path_;
  std::intptr_t descriptor_ = -1;
  FileStamp opened_;
};

// What is sent of a photo, in a folder of its own inside this user's private
// working folder ($TMPDIR/kivphoto-<uid>, mode 0700, checked to be the user's
// own; on Windows %TEMP%\kivphoto-<user>, private by the profile's own
// permissions), under the photo's own name, removed with its folder when the
// owner goes. Copies left behind by a process that no longer runs are removed
// when the next one is made. The photo itself is never written.
class KIV_EXPORT WorkingCopy {
 public:
  // The picture made from the photo (its reduction), and nothing else.
  WorkingCopy(const PhotoFile& photo, std::string_view content);
  // The photo copied whole through its descriptor; 75 when it changed while
  // it was read, so only a whole photo is ever sent.
  explicit WorkingCopy(const PhotoFile& photo);
  // The same, opening the photo first.
  explicit WorkingCopy(const std::string& original, const std::string& photoFolder = {});
  ~WorkingCopy();
  WorkingCopy(const WorkingCopy&) = delete;
  WorkingCopy& operator=(const WorkingCopy&) = delete;

  const std::string& path() const { return path_; }
  // The original as it was read.
  const FileStamp& original() const { return original_; }

 private:
  void makeFolder(const std::string& name);
  void discard();

  std::string folder_;
  std::string path_;
  FileStamp original_;
  std::intptr_t folderLock_ = -1;  // a descriptor, or a HANDLE on Windows
};

// Replaces the file at path with content. The content is written to a new file
// beside it, created exclusively under a short unpredictable name (so it never
// lands in a file someone planted, nor through a link, and fits however long
// the target's name), given its final mode before the first byte, and renamed
// over the target: a failure leaves the old file as it was. Without a mode the
// new file takes the mode of the one it replaces (0644 for a new one). On
// Windows the mode only decides the read-only attribute (no owner write), and
// without one a read-only file is refused (70) while a writable one keeps its
// attributes, security and creation time.
KIV_EXPORT void ReplaceFileAtomically(const std::string& path, std::string_view content,
                                      std::optional<std::uint32_t> mode = std::nullopt);

// The whole content of a small file, or nothing when there is no file at the
// path (nor a folder on the way to it). Opening never waits: a pipe, a device
// or a folder is refused, and so is a file over maxBytes (75).
KIV_EXPORT std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes);

// Creates the folder and every missing folder above it; one already there is
// kept as it is.
KIV_EXPORT void CreateFolders(const std::string& path);

// An advisory lock on a folder, held while the owner lives, so that two
// uploads of one photo folder, from any process, never run at once. It is
// taken on the folder itself: nothing is written into it.
class KIV_EXPORT FolderLock {
 public:
  // 70 when another holder has the folder, 76 when it does not exist.
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  std::intptr_t descriptor_;  // a descriptor, or a HANDLE on Windows
};

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

  // force: a read-only file (no owner write permission, or the read-only
  // attribute) is deleted too. Folders are never deleted here.
  void DeleteFile(const std::string& path, bool force) const;

  // Deletes the file only while the path still leads to the file the stamp
  // was taken of, unchanged; a read-only one too. True when the file is gone,
  // also when another program took it first; false when it was kept because
  // the path now leads to another or a changed file. Given the photo folder,
  // the path is followed below it without going through any link, so nothing
  // outside the folder is ever deleted.
  bool DeleteFileIfUnchanged(const std::string& path, const FileStamp& expected,
                             const std::string& photoFolder = {}) const;

  // True when the path itself is a symbolic link (or a junction), whatever it
  // points to.
  bool IsLink(const std::string& path) const;

  // Removes the folder with the empty folders inside it, only when no file is
  // left anywhere inside (70 otherwise, nothing removed). Without force a
  // read-only folder in the tree is refused as well. A link given as the path
  // is removed itself; its target is never touched.
  void DeleteFolder(const std::string& path, bool force) const;

  // Joins with the platform separator, exactly one between the two parts.
  std::string BuildPath(const std::string& folder, const std::string& name) const;
};

}  // namespace kiv::fs
