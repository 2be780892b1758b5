#include <control/click_routing.hpp>
#include <control/upload.hpp>

#include "support/recording_site.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ClickRoutingTest, EachCommandAndThumbnailHasItsHandler) {
  test::RecordingSite site;
  Upload upload(site);
  EXPECT_EQ(clickActionFor(upload.imgUploadAll), ClickAction::UploadAll);
  EXPECT_EQ(clickActionFor(upload.imgSelectedPhotos), ClickAction::UploadSelected);
  EXPECT_EQ(clickActionFor(upload.imgCancel), ClickAction::Cancel);
  EXPECT_EQ(clickActionFor(upload.Image2[0]), ClickAction::ShowPhoto);
  EXPECT_EQ(clickActionFor(upload.chkSelect[0]), ClickAction::Toggle);
  EXPECT_EQ(clickActionFor(upload.Label1), ClickAction::None);
  EXPECT_EQ(clickActionFor(upload.imgZoom), ClickAction::None);
  EXPECT_EQ(clickActionFor(upload.VScroll1), ClickAction::None);
}

TEST(ClickRoutingTest, ByNameCheckBoxesAreLeftToTheirHost) {
  EXPECT_EQ(clickActionFor("Image2"), ClickAction::ShowPhoto);
  EXPECT_EQ(clickActionFor("imgCancel"), ClickAction::Cancel);
  EXPECT_EQ(clickActionFor("chkSelect"), ClickAction::None);
  EXPECT_EQ(clickActionFor("Label1"), ClickAction::None);
}

TEST(ClickRoutingTest, ToggleFlipsTheClickedBox) {
  test::RecordingSite site;
  Upload upload(site);
  upload.chkSelect[0].Value = 0;
  performClick(upload, ClickAction::Toggle, 0);
  EXPECT_EQ(upload.chkSelect[0].Value, 1);
  performClick(upload, ClickAction::Toggle, 0);
  EXPECT_EQ(upload.chkSelect[0].Value, 0);
}

}  // namespace
}  // namespace kiv
