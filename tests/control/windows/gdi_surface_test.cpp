// The control's surface drawn with GDI into a memory bitmap, as a windowed
// container would paint it, and kept as a PNG for a person to look at.
#include <control/windows/gdi_surface.hpp>

#include "support/photos.hpp"
#include "support/recording_site.hpp"
#include "support/temp_dir.hpp"

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

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  bool valid() const { return dc_ && bitmap_ && bits_; }
  int width() const { return width_; }
  int height() const { return height_; }
  std::uint8_t* bits() const { return bits_; }

  // Red, green, blue at (x, y).
  COLORREF at(int x, int y) const {
    GdiFlush();
    const std::uint8_t* p = bits_ + (static_cast<std::size_t>(y) * width_ + x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
  int countDarkIn(const RECT& r) const {
    int dark = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) {
        const COLORREF c = at(x, y);
        if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 160) ++dark;
      }
    return dark;
  }
  int countOffWhiteIn(const RECT& r) const {
    int off = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (at(x, y) != RGB(255, 255, 255)) ++off;
    return off;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint8_t* bits_ = nullptr;
};

HRESULT savePng(const Canvas& canvas, const std::wstring& file) {
  GdiFlush();
  // GDI leaves the alpha byte at zero: the picture is opaque whatever it says.
  for (int i = 0; i < canvas.width() * canvas.height(); ++i) canvas.bits()[i * 4 + 3] = 255;

  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
  if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(file.c_str(), GENERIC_WRITE);
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
  if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
  if (SUCCEEDED(hr)) hr = frame->SetSize(static_cast<UINT>(canvas.width()), static_cast<UINT>(canvas.height()));
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) hr = E_NOTIMPL;
  const UINT stride = static_cast<UINT>(canvas.width()) * 4;
  if (SUCCEEDED(hr)) hr = frame->WritePixels(static_cast<UINT>(canvas.height()), stride,
                                             stride * static_cast<UINT>(canvas.height()), canvas.bits());
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (frame) frame->Release();
  if (encoder) encoder->Release();
  if (stream) stream->Release();
  if (factory) factory->Release();
  return hr;
}

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
    windows::drawSurface(upload, canvas.dc(), RECT{0, 0, width, height});

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
