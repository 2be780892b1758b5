// The picture file as WIC reads and writes it: opened once, read through its
// own handle at explicit offsets, decoded to a size, encoded as JPEG.
#include "wic_support.hpp"

#include <platform/windows/file_read.hpp>

#include <algorithm>
#include <cstring>

namespace kiv::imaging::detail {

namespace {

// Extended-length form, so a long name in a deep folder still opens; the
// prefix turns off the system's own normalising, done here first instead.
std::wstring systemPath(const std::string& path) {
  std::wstring wide = widen(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  if (wide.empty() || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD got = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (got == 0 || got >= needed) return wide;
  full.resize(got);
  if (full.size() > 2 && full[1] == L':') return L"\\\\?\\" + full;
  if (full.rfind(L"\\\\", 0) == 0 && full.rfind(L"\\\\.\\", 0) != 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return full;
}

// An IStream over a file handle of its own, reading at its own position, so
// WIC never goes back to the path.
class HandleStream final
    : public winapi::Object<HandleStream, winapi::NotCounted, IStream, winapi::Alias<ISequentialStream, IStream>> {
 public:
  explicit HandleStream(HANDLE handle) : handle_(handle) {}

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override {
    ULONG got = 0;
    while (got < size) {
      OVERLAPPED at{};
      const std::uint64_t offset = position_ + got;
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD n = 0;
      if (!ReadFile(handle_, static_cast<char*>(buffer) + got, size - got, &n, &at)) {
        const DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF) break;
        position_ += got;
        if (read) *read = got;
        return HRESULT_FROM_WIN32(code);
      }
      if (n == 0) break;
      got += n;
    }
    position_ += got;
    if (read) *read = got;
    return got == size ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* result) override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) return HRESULT_FROM_WIN32(GetLastError());
    long long base = 0;
    if (origin == STREAM_SEEK_CUR)
      base = static_cast<long long>(position_);
    else if (origin == STREAM_SEEK_END)
      base = size.QuadPart;
    else if (origin != STREAM_SEEK_SET)
      return STG_E_INVALIDFUNCTION;
    const long long target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<std::uint64_t>(target);
    if (result) result->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (!stat) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_, &size)) return HRESULT_FROM_WIN32(GetLastError());
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
    stat->grfMode = STGM_READ;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  friend Object;
  ~HandleStream() { CloseHandle(handle_); }

  HANDLE handle_;
  std::uint64_t position_ = 0;
};

UINT bitsPerPixel(IWICImagingFactory& factory, const WICPixelFormatGUID& format) {
  ComPtr<IWICComponentInfo> info;
  check(factory.CreateComponentInfo(format, info.out()), errc::InvalidPicture, "Unknown pixel format");
  UINT bits = 0;
  const auto pixelInfo = info.as<IWICPixelFormatInfo>();
  if (!pixelInfo) throw Error(errc::InvalidPicture, "Unknown pixel format");
  check(pixelInfo->GetBitsPerPixel(&bits), errc::InvalidPicture, "Unknown pixel format");
  return bits;
}

// EXIF orientations 2-8 applied to the stored pixels.
Pixels upright(Pixels stored, int orientation) {
  if (orientation < 2 || orientation > 8) return stored;
  const bool turned = orientation >= 5;
  Pixels out;
  out.width = turned ? stored.height : stored.width;
  out.height = turned ? stored.width : stored.height;
  out.channels = stored.channels;
  out.bytes.resize(stored.bytes.size());
  const int w = out.width, h = out.height, c = stored.channels;
  for (int sy = 0; sy < stored.height; ++sy) {
    for (int sx = 0; sx < stored.width; ++sx) {
      int ux = sx, uy = sy;
      switch (orientation) {
        case 2: ux = w - 1 - sx; break;
        case 3: ux = w - 1 - sx; uy = h - 1 - sy; break;
        case 4: uy = h - 1 - sy; break;
        case 5: ux = sy; uy = sx; break;
        case 6: ux = w - 1 - sy; uy = sx; break;
        case 7: ux = w - 1 - sy; uy = h - 1 - sx; break;
        case 8: ux = sy; uy = h - 1 - sx; break;
      }
      std::memcpy(&out.bytes[(static_cast<std::size_t>(uy) * w + ux) * c],
                  &stored.bytes[(static_cast<std::size_t>(sy) * stored.width + sx) * c], c);
    }
  }
  return out;
}

}  // namespace

namespace {

// Opens the picture's file for reading, or a duplicate of the handle given,
// and returns its size: only a regular file on a disk, never a pipe or a
// device that could keep the reader waiting. Folders open too
// (FILE_FLAG_BACKUP_SEMANTICS), to be refused as no picture rather than as a
// permission problem.
std::uint64_t openPictureFile(const codec::Source& source, DWORD flags, FileHandle& handle) {
  const std::string& path = source.path;
  if (source.descriptor != -1) {
    HANDLE own = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(source.descriptor), GetCurrentProcess(), &own,
                         0, FALSE, DUPLICATE_SAME_ACCESS))
      throwWindowsError(GetLastError(), "Cannot read " + path, PathKind::File);
    handle = own;
  } else {
    handle = CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  }
  if (handle.get() == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (windowsErrorNumber(code, PathKind::File) == errc::FileNotFound)
      throw Error(errc::FileNotFound, "File not found: " + path);
    if (windowsErrorNumber(code, PathKind::File) == errc::PermissionDenied)
      throw Error(errc::PermissionDenied, "Permission denied: cannot read " + path);
    throwWindowsError(code, "Cannot read " + path, PathKind::File);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(handle.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw Error(errc::InvalidPicture, "Invalid picture: " + path + " is not a file");
  }
  return (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
}

std::size_t readFileAt(HANDLE handle, std::uint64_t offset, void* buffer, std::size_t size, const std::string& path) {
  std::size_t got = 0;
  if (!winapi::readAt(handle, offset, buffer, size, got))
    throwWindowsError(GetLastError(), "Cannot read " + path, PathKind::File);
  return got;
}

}  // namespace

PictureFile::PictureFile(const codec::Source& source, const ComPtr<IWICImagingFactory>& factory)
    : path_(source.path), factory_(factory) {
  const std::string& path = source.path;
  size_ = openPictureFile(source, FILE_FLAG_SEQUENTIAL_SCAN, handle_);

  unsigned char magic[3] = {};
  const std::size_t got = readAt(0, magic, sizeof magic);
  jpeg_ = got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF;
  if (!jpeg_ && (got < 2 || magic[0] != 'B' || magic[1] != 'M'))
    throw Error(errc::InvalidPicture, "Invalid picture: " + path + " holds no JPEG or bitmap picture");
  if (jpeg_) scanJpegSegments();

  const std::string what = "Invalid picture: " + path;
  HANDLE own = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), handle_.get(), GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
    throwWindowsError(GetLastError(), "Cannot read " + path, PathKind::File);
  ComPtr<IStream> stream;
  *stream.out() = new HandleStream(own);
  ComPtr<IWICBitmapDecoder> decoder;
  check(factory_->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out()),
        errc::InvalidPicture, what);
  check(decoder->GetFrame(0, frame_.out()), errc::InvalidPicture, what);
  UINT width = 0, height = 0;
  check(frame_->GetSize(&width, &height), errc::InvalidPicture, what);
  if (width < 1 || height < 1) throw Error(errc::InvalidPicture, what + " has no pixels");

  int orientation = 0;
  if (jpeg_) {
    ComPtr<IWICMetadataQueryReader> query;
    if (SUCCEEDED(frame_->GetMetadataQueryReader(query.out()))) {
      PROPVARIANT value;
      PropVariantInit(&value);
      if (SUCCEEDED(query->GetMetadataByName(L"/app1/ifd/{ushort=274}", &value)) && value.vt == VT_UI2)
        orientation = value.uiVal;
      PropVariantClear(&value);
    }
    // Wine's JPEG decoder offers no metadata blocks: the segment read here serves.
    if (orientation < 1 || orientation > 8) orientation = exifOrientation(exif_);
  }
  header_.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  header_.width = static_cast<int>(header_.orientation >= 5 ? height : width);
  header_.height = static_cast<int>(header_.orientation >= 5 ? width : height);
}

PictureFile::~PictureFile() {
  frame_ = ComPtr<IWICBitmapFrameDecode>();
}

std::string PictureFile::head(std::size_t limit) const {
  std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(limit, size_)), '\0');
  bytes.resize(readAt(0, bytes.data(), bytes.size()));
  return bytes;
}

std::size_t PictureFile::readAt(std::uint64_t offset, void* buffer, std::size_t size) const {
  return readFileAt(handle_.get(), offset, buffer, size, path_);
}

// Walks the segments before the first scan: keeps the Exif block and where the
// scan begins. A damaged layout simply ends the walk; the decoder judges it.
void PictureFile::scanJpegSegments() {
  std::uint64_t at = 2;
  for (int segments = 0; segments < 4096 && at + 4 <= size_; ++segments) {
    unsigned char mark[4];
    if (readAt(at, mark, 4) < 4 || mark[0] != 0xFF) return;
    if (mark[1] == 0xFF) {
      ++at;
      continue;
    }
    if (mark[1] == 0xDA) {
      scanStart_ = at;
      return;
    }
    if (mark[1] == 0x01 || (mark[1] >= 0xD0 && mark[1] <= 0xD8)) {
      at += 2;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(mark[2] << 8 | mark[3]);
    if (length < 2) return;
    if (mark[1] == 0xE1 && exif_.empty() && length > 8) {
      std::string body(length - 2, '\0');
      if (readAt(at + 4, body.data(), body.size()) == body.size() && body.compare(0, 6, "Exif\0\0", 6) == 0)
        exif_ = body.substr(6);
    }
    at += 2 + length;
  }
}

bool PictureFile::endsWithEndMarker() const {
  if (scanStart_ == 0) return false;
  constexpr std::size_t Chunk = 64 * 1024;
  std::vector<unsigned char> buffer(Chunk + 1);
  std::uint64_t end = size_;
  while (end > scanStart_) {
    const std::uint64_t begin = std::max<std::uint64_t>(scanStart_, end > Chunk ? end - Chunk : 0);
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(end + 1, size_) - begin);
    const std::size_t got = readAt(begin, buffer.data(), want);
    for (std::size_t i = got; i >= 2; --i)
      if (buffer[i - 2] == 0xFF && buffer[i - 1] == 0xD9) return true;
    end = begin;
  }
  return false;
}

Pixels PictureFile::render(int width, int height, const WICPixelFormatGUID& format, bool wholeOnly) const {
  const std::string what = "Cannot decode " + path_;
  if (width < 1 || height < 1) throw Error(errc::InvalidProcedureCall, "Invalid picture size");
  if (wholeOnly && jpeg_ && !endsWithEndMarker()) throw Error(errc::InvalidPicture, what + ": the file is cut short");

  const bool turned = header_.orientation >= 5;
  const UINT storedWidth = static_cast<UINT>(turned ? height : width);
  const UINT storedHeight = static_cast<UINT>(turned ? width : height);
  UINT fullWidth = 0, fullHeight = 0;
  check(frame_->GetSize(&fullWidth, &fullHeight), errc::InvalidPicture, what);

  ComPtr<IWICBitmapSource> source = frame_.as<IWICBitmapSource>();
  UINT sourceWidth = fullWidth, sourceHeight = fullHeight;

  // The JPEG decoder can skip most of the work for a smaller picture (1/2, 1/4,
  // 1/8); the scaler does the rest. Wine's decoder offers no such transform.
  if (const auto transform = frame_.as<IWICBitmapSourceTransform>();
      transform && (storedWidth < fullWidth || storedHeight < fullHeight)) {
    for (UINT factor : {1u, 2u}) {
      UINT w = std::min(fullWidth, storedWidth * factor), h = std::min(fullHeight, storedHeight * factor);
      if (FAILED(transform->GetClosestSize(&w, &h)) || w < storedWidth || h < storedHeight) continue;
      if (w >= fullWidth && h >= fullHeight) break;
      WICPixelFormatGUID native{};
      check(frame_->GetPixelFormat(&native), errc::InvalidPicture, what);
      check(transform->GetClosestPixelFormat(&native), errc::InvalidPicture, what);
      const UINT stride = (w * bitsPerPixel(*factory_.get(), native) + 7) / 8;
      std::vector<BYTE> reduced(static_cast<std::size_t>(stride) * h);
      check(transform->CopyPixels(nullptr, w, h, &native, WICBitmapTransformRotate0, stride,
                                  static_cast<UINT>(reduced.size()), reduced.data()),
            errc::InvalidPicture, what);
      ComPtr<IWICBitmap> bitmap;
      check(factory_->CreateBitmapFromMemory(w, h, native, stride, static_cast<UINT>(reduced.size()), reduced.data(),
                                             bitmap.out()),
            errc::InvalidPicture, what);
      source = bitmap.as<IWICBitmapSource>();
      sourceWidth = w;
      sourceHeight = h;
      break;
    }
  }

  ComPtr<IWICFormatConverter> converter;
  check(factory_->CreateFormatConverter(converter.out()), errc::InvalidPicture, what);
  check(converter->Initialize(source.get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                              WICBitmapPaletteTypeCustom),
        errc::InvalidPicture, what);
  source = converter.as<IWICBitmapSource>();

  if (sourceWidth != storedWidth || sourceHeight != storedHeight) {
    ComPtr<IWICBitmapScaler> scaler;
    check(factory_->CreateBitmapScaler(scaler.out()), errc::InvalidPicture, what);
    // High-quality cubic came with Windows 10; Fant is the best before it.
    constexpr auto HighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);
    if (FAILED(scaler->Initialize(source.get(), storedWidth, storedHeight, HighQualityCubic)))
      check(scaler->Initialize(source.get(), storedWidth, storedHeight, WICBitmapInterpolationModeFant),
            errc::InvalidPicture, what);
    source = scaler.as<IWICBitmapSource>();
  }

  Pixels pixels;
  pixels.width = static_cast<int>(storedWidth);
  pixels.height = static_cast<int>(storedHeight);
  pixels.channels = format == GUID_WICPixelFormat32bppRGBA ? 4 : 3;
  const UINT stride = storedWidth * static_cast<UINT>(pixels.channels);
  pixels.bytes.resize(static_cast<std::size_t>(stride) * storedHeight);
  check(source->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.bytes.size()), pixels.bytes.data()),
        errc::InvalidPicture, what);
  // Turned here rather than by WIC's flip-rotator: Wine's only flips vertically.
  return upright(std::move(pixels), header_.orientation);
}

std::string PictureFile::encodeJpeg(const Pixels& pixels, float quality) const {
  const std::string what = "Cannot write the picture of " + path_;
  if (pixels.channels != 3) throw Error(errc::InvalidPicture, what);
  const UINT width = static_cast<UINT>(pixels.width), height = static_cast<UINT>(pixels.height);
  const UINT stride = width * 3;
  ComPtr<IWICBitmap> bitmap;
  check(factory_->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat24bppBGR, stride,
                                         static_cast<UINT>(pixels.bytes.size()),
                                         const_cast<BYTE*>(pixels.bytes.data()), bitmap.out()),
        errc::InvalidPicture, what);

  ComPtr<IStream> memory;
  check(CreateStreamOnHGlobal(nullptr, TRUE, memory.out()), errc::InvalidPicture, what);
  ComPtr<IWICBitmapEncoder> encoder;
  check(factory_->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder.out()), errc::InvalidPicture, what);
  check(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache), errc::InvalidPicture, what);
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  check(encoder->CreateNewFrame(frame.out(), options.out()), errc::InvalidPicture, what);
  PROPBAG2 option{};
  option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_R4;
  value.fltVal = quality;
  check(options->Write(1, &option, &value), errc::InvalidPicture, what);
  check(frame->Initialize(options.get()), errc::InvalidPicture, what);
  check(frame->SetSize(width, height), errc::InvalidPicture, what);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  check(frame->SetPixelFormat(&format), errc::InvalidPicture, what);
  if (format != GUID_WICPixelFormat24bppBGR) throw Error(errc::InvalidPicture, what + ": pixel format refused");

  // Windows copies the source's metadata blocks and rewrites the orientation in
  // them; Wine's encoder writes no metadata (E_NOTIMPL), so there the Exif block
  // is carried over by hand below.
  bool metadataWritten = false;
  if (jpeg_) {
    const auto blockWriter = frame.as<IWICMetadataBlockWriter>();
    const auto blockReader = frame_.as<IWICMetadataBlockReader>();
    if (blockWriter && blockReader && SUCCEEDED(blockWriter->InitializeFromBlockReader(blockReader.get()))) {
      ComPtr<IWICMetadataQueryWriter> query;
      check(frame->GetMetadataQueryWriter(query.out()), errc::InvalidPicture, what);
      PROPVARIANT upright;
      PropVariantInit(&upright);
      upright.vt = VT_UI2;
      upright.uiVal = 1;
      check(query->SetMetadataByName(L"/app1/ifd/{ushort=274}", &upright), errc::InvalidPicture, what);
      metadataWritten = true;
    }
  }
  check(frame->WriteSource(bitmap.get(), nullptr), errc::InvalidPicture, what);
  check(frame->Commit(), errc::InvalidPicture, what);
  check(encoder->Commit(), errc::InvalidPicture, what);

  STATSTG stat{};
  check(memory->Stat(&stat, STATFLAG_NONAME), errc::InvalidPicture, what);
  HGLOBAL global = nullptr;
  check(GetHGlobalFromStream(memory.get(), &global), errc::InvalidPicture, what);
  const void* data = GlobalLock(global);
  if (!data) throw Error(errc::InvalidPicture, what);
  std::string jpeg(static_cast<const char*>(data), static_cast<std::size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(global);

  std::string tiff = exif_;
  if (!metadataWritten && !tiff.empty() && tiff.size() + 8 <= 0xFFFF && jpeg.size() > 4) {
    if (exifOrientation(tiff) != 0) setExifOrientation(tiff, 1);
    std::size_t at = 2;
    if (static_cast<unsigned char>(jpeg[2]) == 0xFF && static_cast<unsigned char>(jpeg[3]) == 0xE0 && jpeg.size() > 6)
      at = 4 + (static_cast<unsigned char>(jpeg[4]) << 8 | static_cast<unsigned char>(jpeg[5]));
    const std::size_t length = 2 + 6 + tiff.size();
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    segment.append("Exif\0\0", 6);
    segment += tiff;
    jpeg.insert(std::min(at, jpeg.size()), segment);
  }
  return jpeg;
}

std::string readHead(const codec::Source& source, std::size_t limit) {
  FileHandle handle;
  const std::uint64_t size = openPictureFile(source, 0, handle);
  std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(limit, size)), '\0');
  bytes.resize(readFileAt(handle.get(), 0, bytes.data(), bytes.size(), source.path));
  return bytes;
}

Pixels decodeInMemory(const ComPtr<IWICImagingFactory>& factory, std::string_view bytes,
                      const WICPixelFormatGUID& format, const std::string& what) {
  const auto length = static_cast<DWORD>(bytes.size());
  if (bytes.empty() || length != bytes.size()) throw Error(errc::InvalidPicture, what);
  ComPtr<IWICStream> stream;
  check(factory->CreateStream(stream.out()), errc::InvalidPicture, what);
  // WIC only reads from the memory; the stream and decoder go before the call returns.
  check(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())), length),
        errc::InvalidPicture, what);
  ComPtr<IWICBitmapDecoder> decoder;
  check(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out()),
        errc::InvalidPicture, what);
  ComPtr<IWICBitmapFrameDecode> frame;
  check(decoder->GetFrame(0, frame.out()), errc::InvalidPicture, what);
  UINT width = 0, height = 0;
  check(frame->GetSize(&width, &height), errc::InvalidPicture, what);
  if (width < 1 || height < 1) throw Error(errc::InvalidPicture, what + ": no pixels");

  ComPtr<IWICFormatConverter> converter;
  check(factory->CreateFormatConverter(converter.out()), errc::InvalidPicture, what);
  check(converter->Initialize(frame.get(), format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom),
        errc::InvalidPicture, what);
  Pixels pixels;
  pixels.width = static_cast<int>(width);
  pixels.height = static_cast<int>(height);
  pixels.channels = format == GUID_WICPixelFormat32bppRGBA ? 4 : 3;
  const UINT stride = width * static_cast<UINT>(pixels.channels);
  pixels.bytes.resize(static_cast<std::size_t>(stride) * height);
  check(converter->CopyPixels(nullptr, stride, static_cast<UINT>(pixels.bytes.size()), pixels.bytes.data()),
        errc::InvalidPicture, what);
  return pixels;
}

}  // namespace kiv::imaging::detail
