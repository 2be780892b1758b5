#include "support/control_fixture.hpp"

#include <platform/filesystem/filesystem.hpp>

#include <gtest/gtest.h>

namespace kiv {
namespace {

using Array = host::Variant::Array;

struct ScanTest : ::testing::Test {
  test::ControlUnderTest f;
  void touch(const std::string& relative) { test::writeFile(f.dock / relative, "x"); }
  Array scan() {
    f.upload.KIVType("EXPRESSPHOTOS");  // nothing to draw; the files hold no pictures
    f.upload.kivGetFiles();
    return f.upload.sFiles.array();
  }
};

// The express mode would send them; with no server reachable each send fails
// and nothing is deleted, so only the list matters here.
struct ListOnly : ScanTest {
  void SetUp() override { f.upload.KIVWEB("http://127.0.0.1:1"); }
};

TEST_F(ListOnly, JudgesPhotosByTheLastThreeLettersOfTheirName) {
  for (const char* name : {"a.JPG", "b.jpeg", "c.Jpe", "d.bmp", "e.png", "f.gif", "notes.txt", "clip.mpeg", "xjpg",
                           "photo.jpg2", "pg", "._IMG_0001.JPG"}) {
    touch(name);
  }
  const std::string p = f.dock.path().string();
  EXPECT_EQ(scan(), (Array{p + "/a.JPG", p + "/b.jpeg", p + "/c.Jpe", p + "/clip.mpeg", p + "/d.bmp", p + "/xjpg"}));
}

TEST_F(ListOnly, ListsSubfolderPhotosAfterTopLevelOnesAndGoesOneLevelDeep) {
  touch("Roll1/A.jpg");
  touch("Roll1/Inner/deep.jpg");
  touch("z.jpg");
  touch("roll2/b.jpg");
  const std::string p = f.dock.path().string();
  EXPECT_EQ(scan(), (Array{p + "/z.jpg", p + "/Roll1/A.jpg", p + "/roll2/b.jpg"}));
  EXPECT_EQ(f.upload.oFolders->Count(), 2u);
}

TEST_F(ListOnly, FolderWithoutPhotosGivesOneEmptyEntry) {
  EXPECT_EQ(scan(), Array{""});
  touch("readme.txt");
  EXPECT_EQ(scan(), Array{""});
  EXPECT_EQ(f.upload.Label2.Caption, "No files found.");
  EXPECT_EQ(f.upload.Label1.Caption, "Searching for new photos...");
  EXPECT_FALSE(f.upload.Label5.Visible);
  f.upload.FullPath((f.dock / "missing").string());
  EXPECT_EQ(scan(), Array{""});
  f.upload.FullPath("");
  EXPECT_EQ(scan(), Array{""});
}

TEST_F(ListOnly, AFolderPathEndingInASeparatorStillJoinsCleanly) {
  touch("a.jpg");
  f.upload.FullPath(f.dock.path().string() + "/");
  EXPECT_EQ(scan(), Array{f.dock.path().string() + "/a.jpg"});
}

}  // namespace
}  // namespace kiv
