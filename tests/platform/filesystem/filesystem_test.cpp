#include <platform/filesystem/filesystem.hpp>
#include <platform/filesystem/registry.hpp>
#include <platform/host/error.hpp>

#include "support/temp_dir.hpp"
#include "support/wine.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <platform/windows/utf16.hpp>

#include <windows.h>
#include <winioctl.h>
#undef DeleteFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace stdfs = std::filesystem;
using kiv::test::TempDir;
using kiv::test::underWine;
using kiv::test::writeFile;

#ifdef _WIN32
void addAttributes(const stdfs::path& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), GetFileAttributesW(path.c_str()) | attributes));
}

// A junction, as mklink /J makes one: unlike a symbolic link it needs no privilege.
bool makeFolderLink(const stdfs::path& target, const stdfs::path& link) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const std::wstring substitute = L"\\??\\" + stdfs::absolute(target).wstring();
  const auto bytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
  std::vector<char> buffer(16 + bytes + 2 * sizeof(wchar_t), 0);
  auto* header = reinterpret_cast<DWORD*>(buffer.data());
  header[0] = IO_REPARSE_TAG_MOUNT_POINT;
  header[1] = static_cast<DWORD>(buffer.size() - 8);  // data length, the reserved word is 0
  auto* offsets = reinterpret_cast<USHORT*>(buffer.data() + 8);
  offsets[1] = bytes;              // substitute name: offset 0, this length
  offsets[2] = bytes + 2;          // print name: after it, empty
  std::memcpy(buffer.data() + 16, substitute.c_str(), bytes);
  DWORD returned = 0;
  const bool made = handle != INVALID_HANDLE_VALUE &&
                    DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    nullptr, 0, &returned, nullptr);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (!made) RemoveDirectoryW(link.c_str());
  return made;
}
#else
bool makeFolderLink(const stdfs::path& target, const stdfs::path& link) {
  stdfs::create_directory_symlink(target, link);
  return true;
}
#endif

// Wine (8) makes no junctions nor symbolic links; everywhere else the link must be made.
void expectLinkMade(bool made) { EXPECT_TRUE(made || underWine()) << "no link made"; }

void makeReadOnly(const stdfs::path& path) {
#ifdef _WIN32
  addAttributes(path, FILE_ATTRIBUTE_READONLY);
#else
  stdfs::permissions(path, stdfs::is_directory(path) ? stdfs::perms::owner_read | stdfs::perms::owner_exec
                                                     : stdfs::perms::owner_read);
#endif
}

// Writes content over the start of the file without changing its size, then
// puts its modification time back, as a dock that preallocates a photo and
// keeps the camera's time does.
void rewriteKeepingSizeAndTime(const stdfs::path& path, const std::string& content) {
#ifdef _WIN32
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME written{};
  GetFileTime(file, nullptr, nullptr, &written);
  DWORD done = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr);
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  CloseHandle(file);
#else
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  FILE* file = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
}

stdfs::path fromUtf8(const std::string& text) { return stdfs::path(std::u8string(text.begin(), text.end())); }
std::string utf8(const stdfs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

template <class Collection>
std::vector<std::string> names(const Collection& items) {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item.Name());
  return out;
}

// Runs `action`, expects a kiv::Error with `number` whose message names `path`.
void expectError(const std::function<void()>& action, int number, const std::string& path) {
  try {
    action();
    ADD_FAILURE() << "no error, expected " << number;
  } catch (const kiv::Error& e) {
    EXPECT_EQ(e.number(), number) << e.what();
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

TEST(FolderListingTest, SortsByCaseFoldedNameWithExactTieBreak) {
  TempDir dir;
  std::vector<std::string> files{"img_0003.jpg", "IMGA.JPG", "IMG_0002.JPG", "b.jpg", "IMG_0010.JPG"};
  std::vector<std::string> expected{"b.jpg", "IMG_0002.JPG", "img_0003.jpg", "IMG_0010.JPG", "IMGA.JPG"};
#ifndef _WIN32
  // Names differing only in case are one name on Windows.
  files.push_back("B.jpg");
  expected.insert(expected.begin(), "B.jpg");
#endif
  for (const auto& name : files) writeFile(dir / name, "x");
  for (const char* name : {"roll2", "Roll1", "ROLL3"}) stdfs::create_directory(dir / name);

  const kiv::fs::Folder folder(dir.path().string());
  EXPECT_EQ(names(folder.Files()), expected);
  EXPECT_EQ(names(folder.SubFolders()), (std::vector<std::string>{"Roll1", "roll2", "ROLL3"}));
}

TEST(FolderListingTest, ListsOnlyRegularFilesAndRealFolders) {
  TempDir dir;
  writeFile(dir / "dock" / "IMG_0001.JPG", "x");
  writeFile(dir / "dock" / "._IMG_0001.JPG", "x");
  stdfs::create_directory(dir / "dock" / ".thumbnails");
  writeFile(dir / "outside" / "a.jpg", "x");
#ifdef _WIN32
  // Hidden and system entries are what dot-names are elsewhere.
  writeFile(dir / "dock" / "Thumbs.jpg", "x");
  addAttributes(dir / "dock" / "Thumbs.jpg", FILE_ATTRIBUTE_HIDDEN);
  writeFile(dir / "dock" / "desktop.jpg", "x");
  addAttributes(dir / "dock" / "desktop.jpg", FILE_ATTRIBUTE_SYSTEM);
  stdfs::create_directory(dir / "dock" / "$RECYCLE.BIN");
  addAttributes(dir / "dock" / "$RECYCLE.BIN", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
#else
  stdfs::create_symlink(dir / "dock" / "IMG_0001.JPG", dir / "dock" / "link.jpg");
  stdfs::create_symlink(dir / "gone.jpg", dir / "dock" / "dangling.jpg");
  stdfs::create_directory_symlink(dir.path(), dir / "dock" / "up");
  ASSERT_EQ(::mkfifo((dir / "dock" / "pipe.jpg").c_str(), 0600), 0);
#endif
  expectLinkMade(makeFolderLink(dir / "outside", dir / "dock" / "cam"));

  const kiv::fs::Folder folder((dir / "dock").string());
  EXPECT_EQ(names(folder.Files()), std::vector<std::string>{"IMG_0001.JPG"});
  EXPECT_TRUE(names(folder.SubFolders()).empty());

  // The folder itself may be reached through a link.
  if (makeFolderLink(dir / "dock", dir / "dock-link")) {
    EXPECT_EQ(names(kiv::fs::Folder((dir / "dock-link").string()).Files()), std::vector<std::string>{"IMG_0001.JPG"});
  }
}

TEST(FolderListingTest, NonAsciiNamesRoundTripAsUtf8) {
  TempDir dir;
  const std::string name = "Fahrzeug \xC3\xA9t\xC3\xA9 \xE8\xBB\x8A.jpg";  // "Fahrzeug été 車.jpg"
  const std::string folderName = "R\xC3\xB6lle";
  writeFile(dir.path() / fromUtf8(folderName) / fromUtf8(name), "photo");
  const std::string root = dir.path().string();
  kiv::fs::FileSystemObject fso;

  const auto sub = kiv::fs::Folder(root).SubFolders();
  ASSERT_EQ(names(sub), std::vector<std::string>{folderName});
  const auto files = sub[0].Files();
  ASSERT_EQ(names(files), std::vector<std::string>{name});
  EXPECT_EQ(files[0].Path(), utf8(dir.path() / fromUtf8(folderName) / fromUtf8(name)));
  EXPECT_EQ(kiv::fs::ReadSmallFile(files[0].Path(), 100), "photo");
  {
    const kiv::fs::WorkingCopy copy(files[0].Path(), root);
    EXPECT_EQ(kiv::fs::Folder(copy.path()).Name(), name);
    EXPECT_EQ(kiv::test::readFile(fromUtf8(copy.path())), "photo");
  }
  fso.DeleteFile(files[0].Path(), false);
  EXPECT_FALSE(stdfs::exists(dir.path() / fromUtf8(folderName) / fromUtf8(name)));
  fso.DeleteFolder(sub[0].Path(), false);
  EXPECT_FALSE(fso.FolderExists(sub[0].Path()));
#ifdef _WIN32
  // A name that is not UTF-8 is refused, never turned into another file's name.
  try {
    fso.DeleteFile(root + "\\photo\xC3(.jpg", true);
    ADD_FAILURE() << "a name that is not UTF-8 was accepted";
  } catch (const kiv::Error& error) {
    EXPECT_EQ(error.number(), kiv::errc::InvalidProcedureCall);
  }
  EXPECT_EQ(kiv::winapi::narrow(L"a\xD800" L"b"), "a\xEF\xBF\xBD" "b");
#endif
}

TEST(FolderListingTest, NamesAndPathsJoinWithOneSeparator) {
  TempDir dir;
  writeFile(dir / "Roll1" / "IMG_0001.JPG", "x");
  const kiv::fs::Folder folder(dir.path().string() + "/");
  EXPECT_EQ(folder.Path(), dir.path().string());
  EXPECT_EQ(folder.Name(), dir.path().filename().string());

  const auto sub = folder.SubFolders()[0];
  EXPECT_EQ(sub.Name(), "Roll1");
  EXPECT_EQ(sub.Path(), (dir / "Roll1").string());
  EXPECT_EQ(sub.Files()[0].Name(), "IMG_0001.JPG");
  EXPECT_EQ(sub.Files()[0].Path(), (dir / "Roll1" / "IMG_0001.JPG").string());
}

TEST(FolderTest, RereadsTheDiskOnEveryCallWhileCollectionsStaySnapshots) {
  TempDir dir;
  writeFile(dir / "Roll1" / "a.jpg", "x");
  writeFile(dir / "Roll1" / "b.jpg", "x");
  kiv::fs::FileSystemObject fso;
  const auto folder = fso.GetFolder((dir / "Roll1").string());
  const auto before = folder->Files();

  fso.DeleteFile((dir / "Roll1" / "a.jpg").string(), true);
  EXPECT_EQ(before.Count(), 2u);
  EXPECT_EQ(folder->Files().Count(), 1u);
  fso.DeleteFile((dir / "Roll1" / "b.jpg").string(), true);
  EXPECT_EQ(folder->Files().Count(), 0u);
}

TEST(FolderTest, ListingFailuresBecomeErrors) {
  TempDir dir;
  stdfs::create_directory(dir / "Roll1");
  const kiv::fs::Folder vanished((dir / "Roll1").string());
  stdfs::remove(dir / "Roll1");
  expectError([&] { vanished.Files(); }, kiv::errc::PathNotFound, "Roll1");
  expectError([&] { vanished.SubFolders(); }, kiv::errc::PathNotFound, "Roll1");

#ifndef _WIN32
  if (::geteuid() == 0) GTEST_SKIP() << "root reads folders without permission";
  writeFile(dir / "Locked" / "a.jpg", "x");
  stdfs::permissions(dir / "Locked", stdfs::perms::none);
  expectError([&] { kiv::fs::Folder((dir / "Locked").string()).Files(); }, kiv::errc::PermissionDenied, "Locked");
#endif
}

TEST(FileSystemObjectTest, FolderExistsAndGetFolderAcceptOnlyFolders) {
  TempDir dir;
  writeFile(dir / "a.jpg", "x");
  const bool linked = makeFolderLink(dir.path(), dir / "linked");
  expectLinkMade(linked);
  kiv::fs::FileSystemObject fso;
  EXPECT_TRUE(fso.FolderExists(dir.path().string()));
  EXPECT_EQ(fso.FolderExists((dir / "linked").string()), linked);
  EXPECT_EQ(fso.IsLink((dir / "linked").string()), linked);
  EXPECT_FALSE(fso.IsLink(dir.path().string()));
  EXPECT_FALSE(fso.IsLink((dir / "a.jpg").string()));
  EXPECT_FALSE(fso.FolderExists((dir / "a.jpg").string()));
  EXPECT_FALSE(fso.FolderExists((dir / "missing").string()));
  EXPECT_FALSE(fso.FolderExists(""));

  expectError([&] { fso.GetFolder((dir / "missing").string()); }, kiv::errc::PathNotFound, "missing");
  expectError([&] { fso.GetFolder((dir / "a.jpg").string()); }, kiv::errc::PathNotFound, "a.jpg");
  expectError([&] { fso.GetFolder(""); }, kiv::errc::PathNotFound, "");
}

TEST(FileSystemObjectTest, DeleteFileHonoursForceAndNeverTakesAFolder) {
  TempDir dir;
  writeFile(dir / "ro.jpg", "x");
  makeReadOnly(dir / "ro.jpg");
  stdfs::create_directory(dir / "Roll1");
  kiv::fs::FileSystemObject fso;

  expectError([&] { fso.DeleteFile((dir / "ro.jpg").string(), false); }, kiv::errc::PermissionDenied, "ro.jpg");
  EXPECT_TRUE(stdfs::exists(dir / "ro.jpg"));
  fso.DeleteFile((dir / "ro.jpg").string(), true);
  EXPECT_FALSE(stdfs::exists(dir / "ro.jpg"));

  expectError([&] { fso.DeleteFile((dir / "ro.jpg").string(), true); }, kiv::errc::FileNotFound, "ro.jpg");
  expectError([&] { fso.DeleteFile((dir / "Roll1").string(), true); }, kiv::errc::FileNotFound, "Roll1");
  EXPECT_TRUE(stdfs::is_directory(dir / "Roll1"));
}

TEST(FileSystemObjectTest, DeleteFolderRefusesWhileAnyFileIsLeftInside) {
  TempDir dir;
  writeFile(dir / "Roll1" / "Inner" / "Deeper" / "x.jpg", "photo");
  stdfs::create_directory(dir / "Roll1" / "Empty");
  writeFile(dir / "Roll2" / "._IMG_0001.JPG", "x");
  stdfs::create_directories(dir / "Other" / "Keep");
  stdfs::create_directories(dir / "Roll3" / "Sub");
  const bool linked = makeFolderLink(dir / "Other", dir / "Roll3" / "Sub" / "link");
  expectLinkMade(linked);
  writeFile(dir / "Roll4" / "Sub" / "Thumbs.db", "x");
#ifdef _WIN32
  addAttributes(dir / "Roll4" / "Sub" / "Thumbs.db", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
#endif
  kiv::fs::FileSystemObject fso;

  for (const char* name : {"Roll1", "Roll2", "Roll3", "Roll4"}) {
    if (!linked && std::string(name) == "Roll3") continue;
    expectError([&] { fso.DeleteFolder((dir / name).string(), true); }, kiv::errc::PermissionDenied, name);
    EXPECT_TRUE(kiv::fs::Folder((dir / name).string()).HoldsAnyFile());
  }
  EXPECT_EQ(kiv::test::readFile(dir / "Roll1" / "Inner" / "Deeper" / "x.jpg"), "photo");
  EXPECT_TRUE(stdfs::is_directory(dir / "Roll1" / "Empty"));
  EXPECT_TRUE(stdfs::exists(dir / "Roll2" / "._IMG_0001.JPG"));
  EXPECT_EQ(fso.IsLink((dir / "Roll3" / "Sub" / "link").string()), linked);
  EXPECT_TRUE(stdfs::exists(dir / "Roll4" / "Sub" / "Thumbs.db"));
  EXPECT_TRUE(stdfs::is_directory(dir / "Other" / "Keep"));
}

TEST(FileSystemObjectTest, DeleteFolderRemovesATreeOfEmptyFolders) {
  TempDir dir;
  stdfs::create_directories(dir / "Roll1" / "A" / "B");
  stdfs::create_directories(dir / "Roll1" / "C");
  kiv::fs::FileSystemObject fso;
  EXPECT_FALSE(kiv::fs::Folder((dir / "Roll1").string()).HoldsAnyFile());
  fso.DeleteFolder((dir / "Roll1").string(), false);
  EXPECT_FALSE(stdfs::exists(dir / "Roll1"));
  expectError([&] { fso.DeleteFolder((dir / "Roll1").string(), false); }, kiv::errc::PathNotFound, "Roll1");
}

TEST(FileSystemObjectTest, DeleteFolderOfReadOnlyFolderNeedsForce) {
  TempDir dir;
  stdfs::create_directories(dir / "Roll1" / "Inner");
  makeReadOnly(dir / "Roll1" / "Inner");
#ifdef _WIN32
  // Wine keeps no read-only attribute on folders; Windows does.
  if (underWine()) GTEST_SKIP() << "Wine has no read-only folders";
#endif
  kiv::fs::FileSystemObject fso;
  expectError([&] { fso.DeleteFolder((dir / "Roll1").string(), false); }, kiv::errc::PermissionDenied, "Inner");
  EXPECT_TRUE(stdfs::is_directory(dir / "Roll1" / "Inner"));
  fso.DeleteFolder((dir / "Roll1").string(), true);
  EXPECT_FALSE(stdfs::exists(dir / "Roll1"));
}

TEST(FileSystemObjectTest, DeleteFolderOfALinkRemovesTheLinkOnly) {
  TempDir dir;
  stdfs::create_directories(dir / "Target" / "Empty");
  const bool linked = makeFolderLink(dir / "Target", dir / "Roll1");
  expectLinkMade(linked);
  if (!linked) GTEST_SKIP() << "no link to delete";
  kiv::fs::FileSystemObject fso;
  fso.DeleteFolder((dir / "Roll1").string(), false);
  EXPECT_FALSE(fso.FolderExists((dir / "Roll1").string()));
  EXPECT_FALSE(fso.IsLink((dir / "Roll1").string()));
  EXPECT_TRUE(stdfs::is_directory(dir / "Target" / "Empty"));
  // As a file, the link goes the same way, its target kept.
  ASSERT_TRUE(makeFolderLink(dir / "Target", dir / "Roll2"));
  fso.DeleteFile((dir / "Roll2").string(), false);
  EXPECT_FALSE(fso.IsLink((dir / "Roll2").string()));
  EXPECT_TRUE(stdfs::is_directory(dir / "Target" / "Empty"));
}

TEST(SystemErrorTest, OneTableNumbersEverySystemError) {
  using kiv::PathKind;
  using kiv::systemErrorNumber;
  for (const int missing : {ENOENT, ENOTDIR}) {
    EXPECT_EQ(systemErrorNumber(missing, PathKind::File), kiv::errc::FileNotFound);
    EXPECT_EQ(systemErrorNumber(missing, PathKind::Folder), kiv::errc::PathNotFound);
  }
  for (const PathKind kind : {PathKind::File, PathKind::Folder}) {
    for (const int denied : {EACCES, EPERM, EROFS, ENOTEMPTY}) {
      EXPECT_EQ(systemErrorNumber(denied, kind), kiv::errc::PermissionDenied) << denied;
    }
    for (const int full : {ENOSPC,
#ifdef EDQUOT
                           EDQUOT,
#endif
                           EFBIG}) {
      EXPECT_EQ(systemErrorNumber(full, kind), kiv::errc::DiskFull) << full;
    }
    for (const int other : {EIO, EISDIR, ELOOP, EEXIST, ENAMETOOLONG, EMFILE}) {
      EXPECT_EQ(systemErrorNumber(other, kind), kiv::errc::PathFileAccessError) << other;
    }
  }
}

#ifdef _WIN32
TEST(SystemErrorTest, WindowsCodesGoThroughTheSameTable) {
  using kiv::PathKind;
  using kiv::windowsErrorNumber;
  for (const DWORD missing : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME, ERROR_BAD_NETPATH}) {
    EXPECT_EQ(windowsErrorNumber(missing, PathKind::File), kiv::errc::FileNotFound) << missing;
    EXPECT_EQ(windowsErrorNumber(missing, PathKind::Folder), kiv::errc::PathNotFound) << missing;
  }
  for (const PathKind kind : {PathKind::File, PathKind::Folder}) {
    for (const DWORD denied : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_WRITE_PROTECT,
                               ERROR_DIR_NOT_EMPTY, ERROR_CURRENT_DIRECTORY}) {
      EXPECT_EQ(windowsErrorNumber(denied, kind), kiv::errc::PermissionDenied) << denied;
    }
    for (const DWORD full : {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_FILE_TOO_LARGE}) {
      EXPECT_EQ(windowsErrorNumber(full, kind), kiv::errc::DiskFull) << full;
    }
    for (const DWORD other : {ERROR_GEN_FAILURE, ERROR_FILE_EXISTS, ERROR_TOO_MANY_OPEN_FILES, ERROR_CRC}) {
      EXPECT_EQ(windowsErrorNumber(other, kind), kiv::errc::PathFileAccessError) << other;
    }
  }
  EXPECT_FALSE(kiv::windowsErrorMessage(ERROR_ACCESS_DENIED).empty());
  EXPECT_EQ(kiv::windowsErrorMessage(ERROR_ACCESS_DENIED).back() == '\n', false);
}
#endif

TEST(SmallFileTest, ReadsAFileWholeAndAMissingOneAsNothing) {
  TempDir dir;
  const std::string content("line 1\nline 2 without end\0binary", 32);
  writeFile(dir / "registry", content);
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "registry").string(), content.size()), content);
  writeFile(dir / "empty", "");
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "empty").string(), 0), std::string());

  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "missing").string(), 100), std::nullopt);
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "missing" / "registry").string(), 100), std::nullopt);
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "registry" / "inside").string(), 100), std::nullopt);
#ifndef _WIN32
  stdfs::create_symlink(dir / "gone", dir / "dangling");
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "dangling").string(), 100), std::nullopt);
#endif
}

TEST(SmallFileTest, RefusesWhatIsNoSmallFileWithoutWaiting) {
  TempDir dir;
  writeFile(dir / "big", std::string(100 * 1024, 'x'));
  expectError([&] { kiv::fs::ReadSmallFile((dir / "big").string(), 100 * 1024 - 1); },
              kiv::errc::PathFileAccessError, "big");
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "big").string(), 100 * 1024)->size(), 100u * 1024);

  stdfs::create_directory(dir / "folder");
  expectError([&] { kiv::fs::ReadSmallFile((dir / "folder").string(), 100); }, kiv::errc::PathFileAccessError,
              "folder");
#ifdef _WIN32
  const std::string pipe = "\\\\.\\pipe\\kiv-test-" + std::to_string(GetCurrentProcessId());
  const HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 512, 512, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  expectError([&] { kiv::fs::ReadSmallFile(pipe, 100); }, kiv::errc::PathFileAccessError, "kiv-test-");
  CloseHandle(server);

  // Held open by another program that shares nothing.
  writeFile(dir / "locked", "x");
  const HANDLE holder = CreateFileW((dir / "locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  expectError([&] { kiv::fs::ReadSmallFile((dir / "locked").string(), 100); }, kiv::errc::PermissionDenied, "locked");
  CloseHandle(holder);
#else
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  expectError([&] { kiv::fs::ReadSmallFile((dir / "pipe").string(), 100); }, kiv::errc::PathFileAccessError, "pipe");

  if (::geteuid() == 0) GTEST_SKIP() << "root reads files without permission";
  writeFile(dir / "locked", "x");
  stdfs::permissions(dir / "locked", stdfs::perms::none);
  expectError([&] { kiv::fs::ReadSmallFile((dir / "locked").string(), 100); }, kiv::errc::PermissionDenied, "locked");
#endif
}

TEST(FileSystemObjectTest, CreateFoldersMakesEveryMissingFolderOnTheWay) {
  TempDir dir;
  kiv::fs::CreateFolders((dir / "a" / "b" / "c").string());
  EXPECT_TRUE(stdfs::is_directory(dir / "a" / "b" / "c"));
  writeFile(dir / "a" / "b" / "keep", "x");
  kiv::fs::CreateFolders((dir / "a" / "b").string());
  EXPECT_EQ(kiv::test::readFile(dir / "a" / "b" / "keep"), "x");

  expectError([&] { kiv::fs::CreateFolders((dir / "a" / "b" / "keep" / "d").string()); }, kiv::errc::PathNotFound,
              "keep");
}

TEST(SingleFileTest, WorkingCopyReadsOnlyPhotosBelowTheFolderAndGoesWithItsOwner) {
  TempDir dir;
  writeFile(dir / "dock" / "Roll1" / "IMG_0001.JPG", "photo");
  writeFile(dir / "secret.jpg", "secret");
  const std::string dock = (dir / "dock").string();
  std::string copied;
  {
    const kiv::fs::WorkingCopy copy((dir / "dock" / "Roll1" / "IMG_0001.JPG").string(), dock);
    copied = copy.path();
    EXPECT_EQ(kiv::test::readFile(fromUtf8(copied)), "photo");
    EXPECT_EQ(copy.original().size, 5);
    EXPECT_EQ(kiv::fs::Folder(copied).Name(), "IMG_0001.JPG");
  }
  EXPECT_FALSE(stdfs::exists(fromUtf8(copied)));
  EXPECT_FALSE(stdfs::exists(fromUtf8(copied).parent_path()));

  EXPECT_THROW(kiv::fs::WorkingCopy(dock + "/../secret.jpg", dock), kiv::Error);
  EXPECT_THROW(kiv::fs::WorkingCopy((dir / "secret.jpg").string(), dock), kiv::Error);
  expectError([&] { kiv::fs::WorkingCopy((dir / "dock" / "gone.jpg").string(), dock); }, kiv::errc::FileNotFound,
              "gone.jpg");
  if (makeFolderLink(dir.path(), dir / "dock" / "up")) {
    EXPECT_THROW(kiv::fs::WorkingCopy((dir / "dock" / "up" / "secret.jpg").string(), dock), kiv::Error);
  }

  // What is sent may be made from the photo: only that is written, and only
  // while the photo is still as it was opened.
  const std::string photo = (dir / "dock" / "Roll1" / "IMG_0001.JPG").string();
  const kiv::fs::PhotoFile opened(photo, dock);
  EXPECT_EQ(opened.read(1, 3), "hot");
  {
    const kiv::fs::WorkingCopy reduced(opened, "small");
    EXPECT_EQ(kiv::test::readFile(fromUtf8(reduced.path())), "small");
    EXPECT_EQ(kiv::fs::Folder(reduced.path()).Name(), "IMG_0001.JPG");
    EXPECT_EQ(reduced.original(), opened.opened());
  }
  writeFile(dir / "dock" / "Roll1" / "IMG_0001.JPG", "photo, and the rest the dock wrote");
  expectError([&] { kiv::fs::WorkingCopy(opened, "small"); }, kiv::errc::PathFileAccessError, "changed");
  expectError([&] { kiv::fs::WorkingCopy{opened}; }, kiv::errc::PathFileAccessError, "changed");
  EXPECT_EQ(kiv::test::readFile(dir / "dock" / "Roll1" / "IMG_0001.JPG"), "photo, and the rest the dock wrote");
}

TEST(SingleFileTest, DeleteFileIfUnchangedTakesOnlyTheFileAsItWasRead) {
  TempDir dir;
  writeFile(dir / "dock" / "a.jpg", "photo");
  writeFile(dir / "dock" / "b.jpg", "photo");
  const std::string dock = (dir / "dock").string();
  const std::string a = (dir / "dock" / "a.jpg").string();
  const std::string b = (dir / "dock" / "b.jpg").string();
  makeReadOnly(dir / "dock" / "a.jpg");
  kiv::fs::FileStamp stampA;
  kiv::fs::FileStamp stampB;
  {
    stampA = kiv::fs::WorkingCopy(a, dock).original();
    stampB = kiv::fs::WorkingCopy(b, dock).original();
  }
  kiv::fs::FileSystemObject fso;
  EXPECT_FALSE(fso.DeleteFileIfUnchanged(a, stampB, dock));  // another file at that name
  EXPECT_TRUE(fso.DeleteFileIfUnchanged(a, stampA, dock));
  EXPECT_FALSE(stdfs::exists(dir / "dock" / "a.jpg"));
  EXPECT_TRUE(fso.DeleteFileIfUnchanged(a, stampA, dock));  // already gone

  writeFile(dir / "dock" / "b.jpg", "photo, rewritten");
  EXPECT_FALSE(fso.DeleteFileIfUnchanged(b, stampB, dock));
  EXPECT_TRUE(stdfs::exists(dir / "dock" / "b.jpg"));

  // The same size and modification time, other content: still not the file sent.
  writeFile(dir / "dock" / "c.jpg", "first half.............");
  const std::string c = (dir / "dock" / "c.jpg").string();
  const kiv::fs::FileStamp stampC = kiv::fs::WorkingCopy(c, dock).original();
  rewriteKeepingSizeAndTime(dir / "dock" / "c.jpg", "first half and the rest");
  EXPECT_FALSE(fso.DeleteFileIfUnchanged(c, stampC, dock));
  EXPECT_TRUE(stdfs::exists(dir / "dock" / "c.jpg"));
}

TEST(SingleFileTest, ReplaceFileAtomicallyLeavesOnlyTheNewContent) {
  TempDir dir;
  const std::string target = (dir / "settings").string();
  kiv::fs::ReplaceFileAtomically(target, "first");
  EXPECT_EQ(kiv::fs::ReadSmallFile(target, 100), "first");
  kiv::fs::ReplaceFileAtomically(target, "second, read-only", 0400);
  EXPECT_EQ(kiv::fs::ReadSmallFile(target, 100), "second, read-only");
  kiv::fs::ReplaceFileAtomically(target, "third", 0600);
  EXPECT_EQ(kiv::fs::ReadSmallFile(target, 100), "third");
  EXPECT_EQ(names(kiv::fs::Folder(dir.path().string()).Files()), std::vector<std::string>{"settings"});
  EXPECT_FALSE(kiv::fs::Folder(dir.path().string()).SubFolders().Count());
  expectError([&] { kiv::fs::ReplaceFileAtomically((dir / "missing" / "settings").string(), "x"); },
              kiv::errc::PathNotFound, "missing");
}

TEST(SingleFileTest, FolderLockHasOneHolderAtATime) {
  TempDir dir;
  const std::string folder = dir.path().string();
  writeFile(dir / "a.jpg", "x");
  {
    const kiv::fs::FolderLock lock(folder);
    expectError([&] { kiv::fs::FolderLock second(folder); }, kiv::errc::PermissionDenied, folder);
    // Work inside the folder goes on while it is held.
    EXPECT_EQ(kiv::fs::Folder(folder).Files().Count(), 1u);
    kiv::fs::FileSystemObject().DeleteFile((dir / "a.jpg").string(), false);
  }
  const kiv::fs::FolderLock again(folder);
  expectError([&] { kiv::fs::FolderLock missing((dir / "missing").string()); }, kiv::errc::PathNotFound, "missing");
}

#ifdef _WIN32
TEST(RegistryTest, AClassEntryIsReplacedWholeAndRemoved) {
  const std::wstring key = L"Software\\kivPhotoUpload\\Components\\{kiv-test-class}";
  const auto value = [&](const wchar_t* name) {
    wchar_t text[256] = {};
    DWORD size = sizeof text;
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size);
    return status == ERROR_SUCCESS ? std::optional<std::wstring>(text) : std::nullopt;
  };
  kiv::fs::enterClass("{kiv-test-class}", {{"Library", "C:\\Programme\\K\xC3\xB6ln\\kiv.dll"}, {"Old", "1"}});
  EXPECT_EQ(value(L"Library"), L"C:\\Programme\\K\u00f6ln\\kiv.dll");
  kiv::fs::enterClass("{kiv-test-class}", {{"Library", "C:\\kiv.dll"}});
  EXPECT_EQ(value(L"Library"), L"C:\\kiv.dll");
  EXPECT_EQ(value(L"Old"), std::nullopt);
  kiv::fs::removeClass("{kiv-test-class}");
  EXPECT_EQ(value(L"Library"), std::nullopt);
  kiv::fs::removeClass("{kiv-test-class}");

  const std::string module = kiv::fs::thisModulePath();
  EXPECT_NE(module.find("filesystem_test.exe"), std::string::npos) << module;
}
#endif

TEST(FileSystemObjectTest, BuildPathPutsExactlyOneSeparatorBetween) {
  kiv::fs::FileSystemObject fso;
#ifdef _WIN32
  EXPECT_EQ(fso.BuildPath("C:\\photos", "Roll1"), "C:\\photos\\Roll1");
  EXPECT_EQ(fso.BuildPath("C:\\photos\\", "Roll1"), "C:\\photos\\Roll1");
  EXPECT_EQ(fso.BuildPath("C:\\photos/\\", "\\Roll1"), "C:\\photos\\Roll1");
  EXPECT_EQ(fso.BuildPath("C:/photos", "/Roll1"), "C:/photos\\Roll1");
  EXPECT_EQ(fso.BuildPath("C:\\", "photos"), "C:\\photos");
  EXPECT_EQ(fso.BuildPath("", "a.jpg"), "a.jpg");
  EXPECT_EQ(kiv::fs::Folder("C:\\photos\\Roll1\\").Name(), "Roll1");
  EXPECT_EQ(kiv::fs::Folder("C:\\").Path(), "C:\\");
  return;
#endif
  EXPECT_EQ(fso.BuildPath("/photos", "Roll1"), "/photos/Roll1");
  EXPECT_EQ(fso.BuildPath("/photos/", "Roll1"), "/photos/Roll1");
  EXPECT_EQ(fso.BuildPath("/photos//", "/Roll1"), "/photos/Roll1");
  EXPECT_EQ(fso.BuildPath("/", "photos"), "/photos");
  EXPECT_EQ(fso.BuildPath("", "a.jpg"), "a.jpg");
}

}  // namespace
