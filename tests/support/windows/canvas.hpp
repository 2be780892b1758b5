#pragma once

// A memory bitmap that GDI draws into, read back pixel by pixel and kept as a
// PNG for a person to look at: what the Windows drawing tests share.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdint>
#include <string>

namespace kiv::test {

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

inline HRESULT savePng(const Canvas& canvas, const std::wstring& file) {
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

}  // namespace kiv::test
