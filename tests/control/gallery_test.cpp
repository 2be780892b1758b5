#include "support/control_fixture.hpp"
#include "support/photos.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

struct GalleryTest : ::testing::Test {
  test::ControlUnderTest f;
  Upload& u = f.upload;

  void addPhotos(int count, int first = 0) {
    for (int i = first; i < first + count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
      test::writeJpeg(f.dock / name, 48, 32);
    }
  }

  void expectAt(std::int16_t i, float left, float top) {
    EXPECT_EQ(u.Image2[i].Left, left) << i;
    EXPECT_EQ(u.Image2[i].Top, top) << i;
    EXPECT_EQ(u.chkSelect[i].Left, left) << i;
    EXPECT_EQ(u.chkSelect[i].Top, top + 1505) << i;
    EXPECT_EQ(u.Image2[i].Tag, host::numberText(top)) << i;
    EXPECT_EQ(u.chkSelect[i].Tag, host::numberText(top + 1505)) << i;
  }

  bool buttonsShown() const {
    return u.imgCancel.Visible && u.imgUploadAll.Visible && u.imgSelectedPhotos.Visible && u.Label4.Visible;
  }
};

TEST_F(GalleryTest, OnePhotoFillsTheFirstCellAndTheEnlargedView) {
  addPhotos(1);
  u.Show();
  EXPECT_EQ(u.Label1.Caption, "Searching for new photos... 1 photo found.");
  expectAt(0, 5, 5);
  EXPECT_TRUE(u.Image2[0].Visible && u.chkSelect[0].Visible);
  EXPECT_EQ(u.Image2.Count(), 1);
  EXPECT_EQ(u.VScroll1.Max, 0);
  ASSERT_NE(u.Image2[0].Picture, nullptr);
  EXPECT_EQ(u.imgZoom.Picture, u.Image2[0].Picture) << "the same picture object, shared";
  EXPECT_EQ(u.imgZoom.Width, 180);
  EXPECT_EQ(u.imgZoom.Height, 120);
  EXPECT_LE(u.Image2[0].Picture->bitmap().width, 360);
  EXPECT_FALSE(u.VScroll1.Enabled);
  EXPECT_FALSE(u.VScroll1.Visible);
  EXPECT_TRUE(buttonsShown());
  EXPECT_EQ(u.VScroll1.SmallChange, 275);
  EXPECT_EQ(u.VScroll1.LargeChange, 300);
  EXPECT_EQ(f.site.refreshes, 1);
}

TEST_F(GalleryTest, RowsOfThreeWithHomePositionsInTheirTags) {
  addPhotos(7);
  u.Show();
  EXPECT_EQ(u.Label1.Caption, "Searching for new photos... 7 photos found.");
  expectAt(0, 5, 5);
  expectAt(1, 1630, 5);
  expectAt(2, 3255, 5);
  expectAt(3, 5, 1875);
  expectAt(6, 5, 3745);
  EXPECT_EQ(u.Image2[3].Tag, "1875");
  EXPECT_EQ(u.chkSelect[3].Tag, "3380");
  EXPECT_EQ(u.VScroll1.Max, 2910);
  EXPECT_FALSE(u.VScroll1.Enabled);
}

TEST_F(GalleryTest, TheTenthPhotoEnablesTheScrollBar) {
  addPhotos(9);
  u.Show();
  EXPECT_FALSE(u.VScroll1.Enabled);
  EXPECT_FALSE(u.VScroll1.Visible);
  addPhotos(1, 9);
  u.Show();
  EXPECT_TRUE(u.VScroll1.Enabled);
  EXPECT_TRUE(u.VScroll1.Visible);
  EXPECT_EQ(u.VScroll1.Max, 3 * 1455);
}

TEST_F(GalleryTest, EveryRowCanBeScrolledIntoViewHoweverLongTheGallery) {
  addPhotos(75);  // 25 rows: past the 16-bit range of the classic scroll extent
  u.Show();
  const host::CheckBox& last = u.chkSelect[74];
  EXPECT_EQ(last.Top, 1510 + 1870 * 24);
  EXPECT_EQ(u.VScroll1.Max, static_cast<std::int32_t>(last.Top + last.Height - 5535));
  EXPECT_GT(u.VScroll1.Max, 24 * 1455);
  u.VScroll1.Value = u.VScroll1.Max;
  u.VScroll1_Change();
  EXPECT_LE(u.chkSelect[74].Top + u.chkSelect[74].Height, 5535);
  EXPECT_GE(u.Image2[72].Top, 0);
}

TEST_F(GalleryTest, APhotoThatCannotBeShownKeepsItsPlace) {
  addPhotos(2);
  test::writeFile(f.dock / "IMG_0000b.JPG", "damaged");
  test::writeFile(f.dock / "clip.mpeg", "a video");
  u.Show();
  const auto& files = u.sFiles.array();
  ASSERT_EQ(files.size(), 4u);
  for (std::int16_t i = 0; i < 4; ++i) {
    const bool damaged = files[i].ends_with("clip.mpeg") || files[i].ends_with("IMG_0000b.JPG");
    EXPECT_EQ(u.Image2[i].Picture == nullptr, damaged) << files[i];
    EXPECT_TRUE(u.Image2[i].Visible && u.chkSelect[i].Visible) << files[i];
  }
  EXPECT_TRUE(buttonsShown());
}

TEST_F(GalleryTest, ShowingAgainReusesElementsAndStartsUnticked) {
  addPhotos(5);
  u.Show();
  u.chkSelect[1].Value = 1;
  u.chkSelect[4].Value = 1;
  u.VScroll1.Value = 100;
  std::filesystem::remove(f.dock / "IMG_0004.JPG");
  std::filesystem::remove(f.dock / "IMG_0003.JPG");
  u.Show();
  EXPECT_EQ(u.Label1.Caption, "Searching for new photos... 3 photos found.");
  EXPECT_EQ(u.Image2.Count(), 5);
  EXPECT_FALSE(u.Image2[3].Visible);
  EXPECT_FALSE(u.chkSelect[4].Visible);
  EXPECT_EQ(u.chkSelect[4].Value, 0);
  EXPECT_EQ(u.chkSelect[1].Value, 0);
  EXPECT_EQ(u.VScroll1.Value, 0);
  expectAt(2, 3255, 5);
  EXPECT_EQ(u.imgZoom.Width, 180);
  EXPECT_EQ(u.imgZoom.Height, 120);

  for (const auto& entry : std::filesystem::directory_iterator(f.dock.path())) std::filesystem::remove(entry);
  u.Show();
  EXPECT_EQ(u.Label2.Caption, "No files found.");
  EXPECT_FALSE(u.VScroll1.Visible);
  EXPECT_FALSE(u.imgUploadAll.Visible || u.imgSelectedPhotos.Visible || u.imgCancel.Visible || u.Label4.Visible);
  for (std::int16_t i = 0; i < 5; ++i) {
    EXPECT_FALSE(u.Image2[i].Visible || u.chkSelect[i].Visible || u.Image2[i].Picture) << "the photos that are gone";
  }
  EXPECT_FALSE(u.imgZoom.Picture);
}

TEST_F(GalleryTest, EmptyFolderLeavesOnlyTheStatusLines) {
  u.Show();
  EXPECT_EQ(u.sFiles.array(), host::Variant::Array{""});
  EXPECT_EQ(u.Label1.Caption, "Searching for new photos...");
  EXPECT_EQ(u.Label2.Caption, "No files found.");
  EXPECT_FALSE(u.VScroll1.Visible || u.imgUploadAll.Visible || u.imgSelectedPhotos.Visible || u.imgCancel.Visible ||
               u.Label4.Visible || u.Label5.Visible);
  EXPECT_TRUE(f.site.events.empty());
}

TEST_F(GalleryTest, CancelRaisesCloseAppAndChangesNothing) {
  addPhotos(2);
  u.Show();
  const int refreshes = f.site.refreshes;
  u.imgCancel_Click();
  u.imgCancel_Click();
  EXPECT_EQ(f.site.events, (std::vector<std::string>{"CloseApp", "CloseApp"}));
  EXPECT_EQ(f.site.refreshes, refreshes);
  EXPECT_TRUE(buttonsShown());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.dock.path()), {}), 2);
}

TEST_F(GalleryTest, ScrollingPlacesEveryElementFromItsHome) {
  addPhotos(12);
  u.Show();
  EXPECT_EQ(u.VScroll1.Max, 4365);
  u.VScroll1.Value = 300;
  u.VScroll1_Scroll();
  u.VScroll1.Value = 4365;
  u.VScroll1_Change();
  EXPECT_EQ(u.Image2[11].Top, 1250);
  EXPECT_EQ(u.chkSelect[11].Top, 2755);
  EXPECT_EQ(u.Image2[11].Left, 3255) << "only Top moves";
  u.VScroll1.Value = 0;
  u.VScroll1_Scroll();
  expectAt(11, 3255, 5 + 1870 * 3);
  expectAt(0, 5, 5);
}

TEST_F(GalleryTest, ZoomShowsTheClickedPhotoAtThreeTimesTheBaseBox) {
  addPhotos(5);
  u.Show();
  u.Image2_Click(4);
  EXPECT_EQ(u.imgZoom.Picture, u.Image2[4].Picture);
  u.Image2_Click(0);
  u.Image2_Click(0);
  EXPECT_EQ(u.imgZoom.Picture, u.Image2[0].Picture);
  EXPECT_EQ(u.imgZoom.Width, 180);
  EXPECT_EQ(u.imgZoom.Height, 120);
  EXPECT_EQ(u.imgZoom.Left, 8);
  EXPECT_EQ(u.imgZoom.Top, 80);
}

}  // namespace
}  // namespace kiv
