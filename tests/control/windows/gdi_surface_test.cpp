// The control's surface drawn with GDI into a memory bitmap, as a windowed
// container would paint it, and kept as a PNG for a person to look at.
#include <control/windows/gdi_surface.hpp>

#include "support/photos.hpp"
#include "support/recording_site.hpp"
#include "support/temp_dir.hpp"
#include "support/windows/canvas.hpp"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace kiv {
namespace {

using test::Canvas;
using test::savePng;


RECT pixelsOf(const host::Surface& surface, const host::Control& control, POINT origin = {0, 0}) {
  auto px = [&](float v) {
    return static_cast<LONG>((control.Container ? v : surface.toTwips(v)) / host::scale::TwipsPerPixel + 0.5f);
  };
  return {origin.x + px(control.Left), origin.y + px(control.Top), origin.x + px(control.Left + control.Width),
          origin.y + px(control.Top + control.Height)};
}

TEST(GdiSurface, DrawsTheGalleryOfAShownControl) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    test::RecordingSite site;
    test::TempDir dock;
    for (int i = 0; i < 5; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
      test::writeJpeg(dock / name, 640, 480);
    }
    Upload upload(site);
    upload.Initialize();
    upload.InitProperties();
    upload.FullPath(dock.path().string());
    upload.Show();
    ASSERT_EQ(upload.Image2.Count(), 5);
    ASSERT_TRUE(upload.Image2[4].Visible);

    const host::Surface& surface = upload.surface();
    const int width = static_cast<int>(surface.Width / host::scale::TwipsPerPixel);
    const int height = static_cast<int>(surface.Height / host::scale::TwipsPerPixel);
    Canvas canvas(width, height);
    ASSERT_TRUE(canvas.valid());
    gdi::drawSurface(upload, canvas.dc(), RECT{0, 0, width, height});

    const RECT frame = pixelsOf(surface, upload.Frame1);
    const POINT inside{frame.left, frame.top};
    for (std::int16_t i = 0; i < 5; ++i) {
      const RECT thumb = pixelsOf(surface, upload.Image2[i], inside);
      const COLORREF middle = canvas.at((thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2);
      EXPECT_NE(middle, RGB(255, 255, 255)) << "thumbnail " << i;
    }
    const RECT zoom = pixelsOf(surface, upload.imgZoom);
    EXPECT_NE(canvas.at((zoom.left + zoom.right) / 2, (zoom.top + zoom.bottom) / 2), RGB(255, 255, 255));
    const RECT button = pixelsOf(surface, upload.imgUploadAll);
    EXPECT_GT(canvas.countOffWhiteIn(button), 0) << "the Upload All button";
    // The frame's etched border.
    EXPECT_NE(canvas.at(frame.left, (frame.top + frame.bottom) / 2), RGB(255, 255, 255));

    // Text only shows where the Wine prefix has a font for it.
    Canvas probe(64, 20);
    RECT probeRect{0, 0, 64, 20};
    DrawTextW(probe.dc(), L"Xx", 2, &probeRect, DT_LEFT | DT_TOP | DT_SINGLELINE);
    if (probe.countDarkIn(probeRect) > 0) {
      EXPECT_GT(canvas.countDarkIn(pixelsOf(surface, upload.Label1)), 20) << upload.Label1.Caption;
      const RECT box = pixelsOf(surface, upload.chkSelect[0], inside);
      EXPECT_GT(canvas.countDarkIn(RECT{box.left + 17, box.top, box.right, box.bottom}), 20) << "check box caption";
    } else {
      std::printf("No font in the Wine prefix: text is not checked.\n");
    }

    const std::filesystem::path file = KIV_SCREENSHOT_PATH;
    std::filesystem::create_directories(file.parent_path());
    EXPECT_EQ(savePng(canvas, file.wstring()), S_OK);
    EXPECT_GT(std::filesystem::file_size(file), 1000u);
    std::printf("Screenshot: %s\n", file.string().c_str());
  }
  CoUninitialize();
}

}  // namespace
}  // namespace kiv
