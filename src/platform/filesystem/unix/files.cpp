// Reading, replacing and deleting single files safely: working copies of
// photos, the deletion of a sent photo, atomic replacement, small files read
// whole, folder locks.
#include <platform/filesystem/filesystem.hpp>

#include "posix_support.hpp"

#include <platform/host/error.hpp>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv::fs {
namespace {

namespace stdfs = std::filesystem;
using namespace detail;

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Copies what is readable from `from`, from its start, into the new file `to`;
// the byte count, or -1 with errno set.
std::int64_t copyContent(int from, const std::string& to) {
  const Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.get() < 0) return -1;
  std::vector<char> buffer(256 * 1024);
  std::int64_t copied = 0;
  for (;;) {
    const ssize_t got = ::pread(from, buffer.data(), buffer.size(), copied);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    if (!writeAll(out.get(), buffer.data(), static_cast<std::size_t>(got))) return -1;
    copied += got;
  }
  return copied;
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder holding a path's last part, opened, and that part's name.
struct Location {
  Descriptor folder;
  std::string leaf;
};

// Finds where a path leads. Below `root`, when one is given, the path must lie
// inside it and every part is followed without going through a link; the root
// itself may be one. 0, or the errno of the step that failed.
int locate(const std::string& root, const std::string& path, Location& out) {
  if (root.empty()) {
    out.folder = Descriptor(::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    out.leaf = lastComponent(path);
    if (out.folder.get() < 0) return errno;
    return out.leaf.empty() ? EISDIR : 0;
  }
  const std::string base = withoutTrailingSeparators(root);
  const std::string prefix = base == "/" ? base : base + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return EACCES;

  std::vector<std::string> parts;
  for (std::size_t start = prefix.size();;) {
    const auto slash = path.find('/', start);
    parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (parts.back().empty() || parts.back() == "." || parts.back() == "..") return EACCES;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  Descriptor folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) return errno;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    Descriptor inner(::openat(folder.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (inner.get() < 0) return errno;
    folder = std::move(inner);
  }
  out.folder = std::move(folder);
  out.leaf = parts.back();
  return 0;
}

// $TMPDIR/kivphoto-<uid>: made on first use, refused when it is a link or
// belongs to someone else, and closed to other users.
std::string privateWorkFolder() {
  std::error_code ec;
  const stdfs::path base = stdfs::temp_directory_path(ec);
  if (ec) fail(ec, PathKind::Folder, "the temporary folder");
  const std::string folder = join(base.string(), "kivphoto-" + std::to_string(::geteuid()));
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) failErrno(PathKind::Folder, folder);
  const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) failErrno(PathKind::Folder, folder);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) failErrno(PathKind::Folder, folder);
  if (status.st_uid != ::geteuid()) fail(errc::PermissionDenied, folder, "the working folder belongs to another user");
  if ((status.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) failErrno(PathKind::Folder, folder);
  return folder;
}

// Working folders are named "<pid>-XXXXXX" and locked while in use; one whose
// process is gone and whose lock is free was left by a crash or a kill.
void removeStaleCopies(const std::string& workFolder) {
  std::error_code ec;
  for (stdfs::directory_iterator it(workFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    char* rest = nullptr;
    const long pid = std::strtol(name.c_str(), &rest, 10);
    if (pid <= 0 || rest == name.c_str() || *rest != '-') continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const Descriptor lock(::open(it->path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() < 0 || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) continue;
    std::error_code ignored;
    stdfs::remove_all(it->path(), ignored);
  }
}

}  // namespace

PhotoFile::PhotoFile(const std::string& path, const std::string& photoFolder) : path_(path) {
  Location at;
  if (const int error = locate(photoFolder, path, at)) failSystem(error, PathKind::File, path);
  // Never waits on a pipe; below the photo folder never reads through a link.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (photoFolder.empty() ? 0 : O_NOFOLLOW);
  Descriptor in(::openat(at.folder.get(), at.leaf.c_str(), flags));
  if (in.get() < 0) failErrno(PathKind::File, path);
  struct stat status {};
  if (::fstat(in.get(), &status) != 0) failErrno(PathKind::File, path);
  if (!S_ISREG(status.st_mode)) fail(errc::FileNotFound, path, "not a regular file");
  opened_ = stampOf(status);
  descriptor_ = in.release();
}

PhotoFile::~PhotoFile() { ::close(static_cast<int>(descriptor_)); }

namespace detail {

FileStamp stampOfOpen(std::intptr_t descriptor, const std::string& path) {
  struct stat status {};
  if (::fstat(static_cast<int>(descriptor), &status) != 0) failErrno(PathKind::File, path);
  return stampOf(status);
}

void writeNewFile(const std::string& to, std::string_view content) {
  const Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.get() < 0 || !writeAll(out.get(), content.data(), content.size())) failErrno(PathKind::Folder, to);
}

std::int64_t copyWhole(std::intptr_t descriptor, const std::string& from, const std::string& to) {
  const std::int64_t copied = copyContent(static_cast<int>(descriptor), to);
  if (copied < 0) failErrno(PathKind::File, from);
  return copied;
}

}  // namespace detail

std::string PhotoFile::read(std::uint64_t offset, std::size_t size) const {
  std::string bytes(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(static_cast<int>(descriptor_), bytes.data() + got, size - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failErrno(PathKind::File, path_);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void WorkingCopy::makeFolder(const std::string& name) {
  const std::string workFolder = privateWorkFolder();
  removeStaleCopies(workFolder);
  std::string pattern = join(workFolder, std::to_string(::getpid()) + "-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) failErrno(PathKind::Folder, pattern);
  folder_ = pattern;
  folderLock_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderLock_ >= 0) ::flock(static_cast<int>(folderLock_), LOCK_EX | LOCK_NB);
  path_ = join(folder_, name);
}

void WorkingCopy::discard() {
  std::error_code ignored;
  if (!folder_.empty()) stdfs::remove_all(folder_, ignored);
  folder_.clear();
  if (folderLock_ >= 0) ::close(static_cast<int>(folderLock_));
  folderLock_ = -1;
}

FolderLock::FolderLock(const std::string& folder)
    : descriptor_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (descriptor_ < 0) failErrno(PathKind::Folder, folder);
  if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(descriptor_);
    if (error == EWOULDBLOCK) {
      fail(errc::PermissionDenied, folder, "another upload of this photo folder is running; try again when it has finished");
    }
    failSystem(error, PathKind::Folder, folder);
  }
}

FolderLock::~FolderLock() { ::close(descriptor_); }

bool FileSystemObject::DeleteFileIfUnchanged(const std::string& path, const FileStamp& expected,
                                             const std::string& photoFolder) const {
  Location at;
  if (const int error = locate(photoFolder, path, at)) {
    if (error == ENOENT || error == ENOTDIR) return true;  // taken, or its folder with it
    if (error == ELOOP) return false;                       // a link now stands in the way
    failSystem(error, PathKind::File, path);
  }
  struct stat status {};
  if (::fstatat(at.folder.get(), at.leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    failErrno(PathKind::File, path);
  }
  if (!S_ISREG(status.st_mode) || !(stampOf(status) == expected)) return false;
  if (::unlinkat(at.folder.get(), at.leaf.c_str(), 0) != 0 && errno != ENOENT) failErrno(PathKind::File, path);
  return true;
}

bool FileSystemObject::IsLink(const std::string& path) const {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

void ReplaceFileAtomically(const std::string& path, std::string_view content, std::optional<std::uint32_t> mode) {
  const std::string folder = parentOf(path);
  std::string temporary = join(folder, ".kiv-XXXXXX");
  Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.get() < 0) failErrno(PathKind::Folder, path);
  struct Cleanup {
    const std::string& name;
    bool renamed = false;
    ~Cleanup() {
      if (!renamed) ::unlink(name.c_str());
    }
  } cleanup{temporary};

  if (!mode) {
    struct stat old {};
    mode = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0644;
  }
  if (::fchmod(file.get(), static_cast<mode_t>(*mode)) != 0 || !writeAll(file.get(), content.data(), content.size()) ||
      ::fsync(file.get()) != 0 || ::close(file.release()) != 0) {
    failErrno(PathKind::Folder, path);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) failErrno(PathKind::Folder, path);
  cleanup.renamed = true;

  // Make the rename itself durable; the new content is already safely in place.
  const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0) ::fsync(directory.get());
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes) {
  const Descriptor in(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    failErrno(PathKind::File, path);
  }
  struct stat status {};
  if (::fstat(in.get(), &status) != 0) failErrno(PathKind::File, path);
  if (!S_ISREG(status.st_mode)) fail(errc::PathFileAccessError, path, "not a regular file");
  std::string content;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failErrno(PathKind::File, path);
    if (got == 0) return content;
    if (static_cast<std::size_t>(got) > maxBytes - content.size()) {
      fail(errc::PathFileAccessError, path, "larger than " + std::to_string(maxBytes) + " bytes");
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace kiv::fs
