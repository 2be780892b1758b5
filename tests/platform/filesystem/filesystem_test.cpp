#include <platform/filesystem/filesystem.hpp>
#include <platform/host/error.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace stdfs = std::filesystem;
using kiv::test::TempDir;
using kiv::test::writeFile;

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
  for (const char* name : {"img_0003.jpg", "IMG_0002.JPG", "b.jpg", "B.jpg", "IMG_0010.JPG"}) {
    writeFile(dir / name, "x");
  }
  for (const char* name : {"roll2", "Roll1", "ROLL3"}) stdfs::create_directory(dir / name);

  const kiv::fs::Folder folder(dir.path().string());
  EXPECT_EQ(names(folder.Files()),
            (std::vector<std::string>{"B.jpg", "b.jpg", "IMG_0002.JPG", "img_0003.jpg", "IMG_0010.JPG"}));
  EXPECT_EQ(names(folder.SubFolders()), (std::vector<std::string>{"Roll1", "roll2", "ROLL3"}));
}

TEST(FolderListingTest, ListsOnlyRegularFilesAndRealFolders) {
  TempDir dir;
  writeFile(dir / "dock" / "IMG_0001.JPG", "x");
  writeFile(dir / "dock" / "._IMG_0001.JPG", "x");
  stdfs::create_directory(dir / "dock" / ".thumbnails");
  writeFile(dir / "outside" / "a.jpg", "x");
  stdfs::create_symlink(dir / "dock" / "IMG_0001.JPG", dir / "dock" / "link.jpg");
  stdfs::create_symlink(dir / "gone.jpg", dir / "dock" / "dangling.jpg");
  stdfs::create_directory_symlink(dir / "outside", dir / "dock" / "cam");
  stdfs::create_directory_symlink(dir.path(), dir / "dock" / "up");
  ASSERT_EQ(::mkfifo((dir / "dock" / "pipe.jpg").c_str(), 0600), 0);

  const kiv::fs::Folder folder((dir / "dock").string());
  EXPECT_EQ(names(folder.Files()), std::vector<std::string>{"IMG_0001.JPG"});
  EXPECT_TRUE(names(folder.SubFolders()).empty());

  // The folder itself may be reached through a link.
  stdfs::create_directory_symlink(dir / "dock", dir / "dock-link");
  EXPECT_EQ(names(kiv::fs::Folder((dir / "dock-link").string()).Files()), std::vector<std::string>{"IMG_0001.JPG"});
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

  if (::geteuid() == 0) GTEST_SKIP() << "root reads folders without permission";
  writeFile(dir / "Locked" / "a.jpg", "x");
  stdfs::permissions(dir / "Locked", stdfs::perms::none);
  expectError([&] { kiv::fs::Folder((dir / "Locked").string()).Files(); }, kiv::errc::PermissionDenied, "Locked");
}

TEST(FileSystemObjectTest, FolderExistsAndGetFolderAcceptOnlyFolders) {
  TempDir dir;
  writeFile(dir / "a.jpg", "x");
  stdfs::create_directory_symlink(dir.path(), dir / "linked");
  kiv::fs::FileSystemObject fso;
  EXPECT_TRUE(fso.FolderExists(dir.path().string()));
  EXPECT_TRUE(fso.FolderExists((dir / "linked").string()));
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
  stdfs::permissions(dir / "ro.jpg", stdfs::perms::owner_read);
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
  stdfs::create_directory_symlink(dir / "Other", dir / "Roll3" / "Sub" / "link");
  kiv::fs::FileSystemObject fso;

  for (const char* name : {"Roll1", "Roll2", "Roll3"}) {
    expectError([&] { fso.DeleteFolder((dir / name).string(), true); }, kiv::errc::PermissionDenied, name);
    EXPECT_TRUE(kiv::fs::Folder((dir / name).string()).HoldsAnyFile());
  }
  EXPECT_EQ(kiv::test::readFile(dir / "Roll1" / "Inner" / "Deeper" / "x.jpg"), "photo");
  EXPECT_TRUE(stdfs::is_directory(dir / "Roll1" / "Empty"));
  EXPECT_TRUE(stdfs::exists(dir / "Roll2" / "._IMG_0001.JPG"));
  EXPECT_TRUE(stdfs::is_symlink(dir / "Roll3" / "Sub" / "link"));
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
  stdfs::permissions(dir / "Roll1" / "Inner", stdfs::perms::owner_read | stdfs::perms::owner_exec);
  kiv::fs::FileSystemObject fso;
  expectError([&] { fso.DeleteFolder((dir / "Roll1").string(), false); }, kiv::errc::PermissionDenied, "Inner");
  EXPECT_TRUE(stdfs::is_directory(dir / "Roll1" / "Inner"));
  fso.DeleteFolder((dir / "Roll1").string(), true);
  EXPECT_FALSE(stdfs::exists(dir / "Roll1"));
}

TEST(FileSystemObjectTest, DeleteFolderOfALinkRemovesTheLinkOnly) {
  TempDir dir;
  stdfs::create_directories(dir / "Target" / "Empty");
  stdfs::create_directory_symlink(dir / "Target", dir / "Roll1");
  kiv::fs::FileSystemObject fso;
  fso.DeleteFolder((dir / "Roll1").string(), false);
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(dir / "Roll1")));
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
    for (const int full : {ENOSPC, EDQUOT, EFBIG}) {
      EXPECT_EQ(systemErrorNumber(full, kind), kiv::errc::DiskFull) << full;
    }
    for (const int other : {EIO, EISDIR, ELOOP, EEXIST, ENAMETOOLONG, EMFILE}) {
      EXPECT_EQ(systemErrorNumber(other, kind), kiv::errc::PathFileAccessError) << other;
    }
  }
}

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
  stdfs::create_symlink(dir / "gone", dir / "dangling");
  EXPECT_EQ(kiv::fs::ReadSmallFile((dir / "dangling").string(), 100), std::nullopt);
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
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  expectError([&] { kiv::fs::ReadSmallFile((dir / "pipe").string(), 100); }, kiv::errc::PathFileAccessError, "pipe");

  if (::geteuid() == 0) GTEST_SKIP() << "root reads files without permission";
  writeFile(dir / "locked", "x");
  stdfs::permissions(dir / "locked", stdfs::perms::none);
  expectError([&] { kiv::fs::ReadSmallFile((dir / "locked").string(), 100); }, kiv::errc::PermissionDenied, "locked");
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

TEST(FileSystemObjectTest, BuildPathPutsExactlyOneSeparatorBetween) {
  kiv::fs::FileSystemObject fso;
  EXPECT_EQ(fso.BuildPath("/photos", "Roll1"), "/photos/Roll1");
  EXPECT_EQ(fso.BuildPath("/photos/", "Roll1"), "/photos/Roll1");
  EXPECT_EQ(fso.BuildPath("/photos//", "/Roll1"), "/photos/Roll1");
  EXPECT_EQ(fso.BuildPath("/", "photos"), "/photos");
  EXPECT_EQ(fso.BuildPath("", "a.jpg"), "a.jpg");
}

}  // namespace
