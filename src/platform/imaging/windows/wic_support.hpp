#pragma once

// Internal to the imaging layer: its one way into WIC. Every HRESULT becomes a
// kiv::Error in check(); COM objects live in ComPtr; each public call of the
// layer holds a ComApartment while it works.

#include "../codec.hpp"

#include <platform/host/error.hpp>
#include <platform/windows/com_base.hpp>
#include <platform/windows/com_ptr.hpp>
#include <platform/windows/utf16.hpp>

#include <windows.h>
#include <wincodec.h>
#include <wincodecsdk.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifndef __IWICBitmapSourceTransform_INTERFACE_DEFINED__
// Missing from mingw-w64's wincodec.h; the layout is Windows' own.
MIDL_INTERFACE("3B16811B-6A43-4ec9-B713-3D5A0C13B940")
IWICBitmapSourceTransform : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT width, UINT height,
                                               WICPixelFormatGUID* format, WICBitmapTransformOptions transform,
                                               UINT stride, UINT bufferSize, BYTE* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestSize(UINT* width, UINT* height) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClosestPixelFormat(WICPixelFormatGUID* format) = 0;
  virtual HRESULT STDMETHODCALLTYPE DoesSupportTransform(WICBitmapTransformOptions transform, BOOL* supported) = 0;
};
__CRT_UUID_DECL(IWICBitmapSourceTransform, 0x3B16811B, 0x6A43, 0x4ec9, 0xB7, 0x13, 0x3D, 0x5A, 0x0C, 0x13, 0xB9,
                0x40)
#endif

namespace kiv::imaging::detail {

using winapi::ComPtr;

// COM on the calling thread for the lifetime of the object: joins the
// multithreaded apartment unless the thread already has one, and leaves only
// what it entered.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool entered_ = false;
};

// Throws kiv::Error for a failed HRESULT: Windows file errors get their
// file-system number, anything else `number`.
void check(HRESULT hr, int number, const std::string& what, PathKind kind = PathKind::File);
// Numbered by kiv::windowsErrorNumber.
[[noreturn]] void throwWindowsError(DWORD code, const std::string& what, PathKind kind);

ComPtr<IWICImagingFactory> createFactory();
using winapi::widen;

bool runningUnderWine();

// The TIFF body of an APP1 Exif segment (after "Exif\0\0"). Orientation 0 when
// the block holds no valid tag; setOrientation is false when there is none to set.
int exifOrientation(const std::string& tiff);
bool setExifOrientation(std::string& tiff, int orientation);

struct Header {
  int width = 0;   // upright
  int height = 0;  // upright
  int orientation = 1;
};

// Pixels in memory, rows without padding.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<std::uint8_t> bytes;
};

// A picture file opened for reading: a regular file whose first bytes are
// those of a JPEG or a bitmap (53 missing, 70 unreadable, 75 another read
// error, 481 no picture). WIC reads it through the handle opened here, never
// through the path again.
// Closes a file handle when its owner goes, a constructor that throws included.
class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle& operator=(HANDLE handle) {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
    return *this;
  }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class PictureFile {
 public:
  PictureFile(const codec::Source& source, const ComPtr<IWICImagingFactory>& factory);
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;
  ~PictureFile();

  const Header& header() const { return header_; }
  bool jpeg() const { return jpeg_; }

  // Decoded upright at exactly width x height (upright), reduced while decoding
  // where the codec can, as 24bppBGR (3 channels) or 32bppRGBA (4). With
  // wholeOnly, a JPEG cut short before its end marker throws 481.
  Pixels render(int width, int height, const WICPixelFormatGUID& format, bool wholeOnly) const;

  // A JPEG of the pixels (quality 0..1), with this file's metadata and the
  // orientation set to 1.
  std::string encodeJpeg(const Pixels& pixels, float quality) const;

  std::uint64_t size() const { return size_; }
  // Up to the first `limit` bytes of the file.
  std::string head(std::size_t limit) const;

 private:
  std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t size) const;
  void scanJpegSegments();
  bool endsWithEndMarker() const;

  std::string path_;
  ComPtr<IWICImagingFactory> factory_;
  FileHandle handle_;
  std::uint64_t size_ = 0;
  bool jpeg_ = false;
  std::string exif_;              // the TIFF body of the APP1 Exif segment, if any
  std::uint64_t scanStart_ = 0;   // where the first scan begins
  ComPtr<IWICBitmapFrameDecode> frame_;
  Header header_;
};

// Up to the first `limit` bytes of the file, read without a decoder (which
// under Wine reads the whole scan when opened); errors as PictureFile's.
std::string readHead(const codec::Source& source, std::size_t limit);

// A picture held in memory decoded whole, as stored (not turned), in the
// format given (24bppBGR or 32bppRGBA).
Pixels decodeInMemory(const ComPtr<IWICImagingFactory>& factory, std::string_view bytes,
                      const WICPixelFormatGUID& format, const std::string& what);


}  // namespace kiv::imaging::detail
