#include <control/upload.hpp>

#include "support/recording_site.hpp"

#include <gtest/gtest.h>

namespace kiv {
namespace {

struct Initialised {
  test::RecordingSite site;
  Upload upload{site};
  Initialised() { upload.Initialize(); }
};

TEST(FormTest, ChildrenComeInStoredOrder) {
  test::RecordingSite site;
  Upload upload(site);
  std::vector<std::string> names;
  for (const host::Control* control : upload.surface().controls()) names.push_back(control->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"VScroll1", "Frame1", "chkSelect", "Image2", "Label4", "imgZoom", "imgCancel",
                                             "imgUploadAll", "imgSelectedPhotos", "Label5", "Label3", "Label2",
                                             "Label1"}));
}

TEST(FormTest, InitializeSwitchesDirectChildrenToPixelsAndSizesTheZoom) {
  Initialised f;
  const Upload& u = f.upload;
  EXPECT_EQ(u.surface().ScaleMode(), host::scale::Pixels);
  EXPECT_EQ((std::array{u.VScroll1.Left, u.VScroll1.Top, u.VScroll1.Width, u.VScroll1.Height}),
            (std::array{520.f, 80.f, 17.f, 369.f}));
  EXPECT_EQ((std::array{u.Frame1.Left, u.Frame1.Top, u.Frame1.Width, u.Frame1.Height}),
            (std::array{192.f, 80.f, 329.f, 369.f}));
  EXPECT_EQ((std::array{u.Label1.Left, u.Label1.Top, u.Label1.Width, u.Label1.Height}),
            (std::array{12.f, 8.f, 261.f, 21.f}));
  EXPECT_EQ((std::array{u.imgSelectedPhotos.Left, u.imgSelectedPhotos.Top, u.imgSelectedPhotos.Width}),
            (std::array{192.f, 464.f, 126.f}));
  // The zoom box: stored position, 60 x 40 pixels, nothing shown yet.
  EXPECT_EQ((std::array{u.imgZoom.Left, u.imgZoom.Top, u.imgZoom.Width, u.imgZoom.Height}),
            (std::array{8.f, 80.f, 60.f, 40.f}));
  EXPECT_EQ(u.imgZoom.Picture, nullptr);
  // Children of the frame stay in twips relative to it.
  EXPECT_EQ(u.chkSelect[0].Container, &u.Frame1);
  EXPECT_EQ((std::array{u.chkSelect[0].Left, u.chkSelect[0].Top, u.chkSelect[0].Width, u.chkSelect[0].Height}),
            (std::array{0.f, 1680.f, 1575.f, 315.f}));
  EXPECT_EQ((std::array{u.Image2[0].Width, u.Image2[0].Height}), (std::array{1575.f, 1455.f}));
  EXPECT_EQ(f.site.refreshes, 0);
}

TEST(FormTest, InitializeShowsTheRedReminderAndHidesButtonsScrollBarAndHint) {
  Initialised f;
  const Upload& u = f.upload;
  EXPECT_EQ(u.Label5.Caption,
            "Please be sure you have placed the camera on the docking station and have copied files to the computer.");
  EXPECT_EQ(u.Label5.ForeColor, host::Rgb(192, 0, 0));
  EXPECT_TRUE(u.Label5.Visible);
  for (const host::Control* hidden : std::initializer_list<const host::Control*>{
           &u.VScroll1, &u.Label4, &u.imgCancel, &u.imgUploadAll, &u.imgSelectedPhotos, &u.chkSelect[0]}) {
    EXPECT_FALSE(hidden->Visible) << hidden->Name;
  }
  for (const host::Control* shown : std::initializer_list<const host::Control*>{
           &u.Frame1, &u.Image2[0], &u.imgZoom, &u.Label1, &u.Label2, &u.Label3}) {
    EXPECT_TRUE(shown->Visible) << shown->Name;
  }
  EXPECT_NE(u.oFs, nullptr);
  EXPECT_EQ(u.chkSelect[0].Caption, "Select this photo");
  EXPECT_EQ(u.Label4.Caption, "Please click on the thumbnails to view larger photo");
}

TEST(FormTest, ButtonFacesAreTwoColourPicturesOfTheirBoxSize) {
  Initialised f;
  for (const host::Image* button : {&f.upload.imgCancel, &f.upload.imgUploadAll, &f.upload.imgSelectedPhotos}) {
    ASSERT_NE(button->Picture, nullptr) << button->Name;
    const host::Bitmap& face = button->Picture->bitmap();
    EXPECT_EQ(face.width, static_cast<int>(button->Width)) << button->Name;
    EXPECT_EQ(face.height, 18);
    EXPECT_EQ(button->MousePointer, host::pointer::Custom);
    int ink = 0;
    for (std::size_t p = 0; p < face.rgba.size(); p += 4) {
      const std::array<int, 3> rgb{face.rgba[p], face.rgba[p + 1], face.rgba[p + 2]};
      const bool isInk = rgb == std::array{0, 51, 102};
      EXPECT_TRUE(isInk || rgb == (std::array{153, 204, 255})) << button->Name;
      ink += isInk;
    }
    const int border = 2 * face.width + 2 * (face.height - 2);
    EXPECT_GT(ink, border + 20) << button->Name << " has no text";
  }
  const host::Bitmap& hand = f.upload.surface().MouseIcon->bitmap();
  EXPECT_EQ(hand.width, 32);
  EXPECT_EQ(hand.height, 32);
  EXPECT_EQ(hand.rgba[3], 0) << "the corner is transparent";
}

TEST(FormTest, LoadedArrayElementsCopyElementZeroAndStartHidden) {
  Initialised f;
  Upload& u = f.upload;
  u.Image2[0].Visible = true;
  u.chkSelect.Load(1);
  EXPECT_EQ(u.chkSelect.UBound(), 1);
  EXPECT_EQ(u.chkSelect.Count(), 2);
  EXPECT_EQ(u.chkSelect[1].Caption, "Select this photo");
  EXPECT_EQ(u.chkSelect[1].Width, 1575);
  EXPECT_EQ(u.chkSelect[1].Index, 1);
  EXPECT_EQ(u.chkSelect[1].Container, &u.Frame1);
  u.Image2.Load(1);
  EXPECT_FALSE(u.Image2[1].Visible);
  EXPECT_EQ(u.Image2[1].MousePointer, host::pointer::Custom);

  try {
    u.Image2.Load(1);
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::ObjectAlreadyLoaded);
  }
  try {
    (void)u.Image2[5];
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), errc::ControlArrayElementDoesNotExist);
  }
  EXPECT_EQ(u.surface().controls().size(), 15u);
}

}  // namespace
}  // namespace kiv
