#include <gallery/photo_scan.hpp>

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kiv::gallery {
namespace {

using Paths = std::vector<std::string>;

struct ScanTest : ::testing::Test {
  test::TempDir dock;
  fs::FileSystemObject fileSystem;
  std::string root = dock.path().string();
  void touch(const std::string& relative) { test::writeFile(dock / relative, "x"); }
  // The path the scan builds, with the system's separator.
  std::string at(const std::string& relative) const { return (dock / relative).make_preferred().string(); }
};

TEST_F(ScanTest, JudgesPhotosByTheLastThreeLettersOfTheirName) {
  for (const char* name : {"a.JPG", "b.jpeg", "c.Jpe", "d.bmp", "e.png", "f.gif", "notes.txt", "clip.mpeg", "xjpg",
                           "photo.jpg2", "pg", "._IMG_0001.JPG"}) {
    touch(name);
  }
  EXPECT_EQ(scanPhotoFolder(fileSystem, root).photos,
            (Paths{at("a.JPG"), at("b.jpeg"), at("c.Jpe"), at("clip.mpeg"), at("d.bmp"),
                   at("xjpg")}));
}

TEST_F(ScanTest, ListsSubfolderPhotosAfterTopLevelOnesAndGoesOneLevelDeep) {
  touch("Roll1/A.jpg");
  touch("Roll1/Inner/deep.jpg");
  touch("z.jpg");
  touch("roll2/b.jpg");
  const PhotoScan scan = scanPhotoFolder(fileSystem, root);
  EXPECT_EQ(scan.photos, (Paths{at("z.jpg"), at("Roll1/A.jpg"), at("roll2/b.jpg")}));
  ASSERT_TRUE(scan.subFolders);
  EXPECT_EQ(scan.subFolders->Count(), 2u);
  EXPECT_EQ(scan.lastSubFolder->Name(), "roll2");
  EXPECT_EQ(scan.lastFile->Name(), "b.jpg");
}

TEST_F(ScanTest, AFolderWithoutPhotosOrMissingListsNone) {
  touch("readme.txt");
  const PhotoScan empty = scanPhotoFolder(fileSystem, root);
  EXPECT_TRUE(empty.photos.empty());
  EXPECT_TRUE(empty.folder);
  for (const std::string& missing : {at("missing"), std::string()}) {
    const PhotoScan none = scanPhotoFolder(fileSystem, missing);
    EXPECT_TRUE(none.photos.empty());
    EXPECT_FALSE(none.folder) << missing;
  }
}

TEST_F(ScanTest, AFolderPathEndingInASeparatorStillJoinsCleanly) {
  touch("a.jpg");
  EXPECT_EQ(scanPhotoFolder(fileSystem, root + "/").photos, Paths{at("a.jpg")});
}

#ifdef _WIN32
TEST_F(ScanTest, HiddenAndSystemPhotosAreNotTheDealers) {
  touch("a.jpg");
  touch("hidden.jpg");
  touch("Roll1/system.jpg");
  SetFileAttributesW((dock / "hidden.jpg").c_str(), FILE_ATTRIBUTE_HIDDEN);
  SetFileAttributesW((dock / "Roll1" / "system.jpg").c_str(), FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(scanPhotoFolder(fileSystem, root).photos, Paths{at("a.jpg")});
}
#endif

}  // namespace
}  // namespace kiv::gallery
