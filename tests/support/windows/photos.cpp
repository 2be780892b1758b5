#include "support/photos.hpp"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv::test {

namespace {

void check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed: HRESULT " + std::to_string(hr));
}

template <class T>
struct Com {
  T* p = nullptr;
  ~Com() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
};

struct Apartment {
  bool entered = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  ~Apartment() {
    if (entered) CoUninitialize();
  }
};

void createFactory(Com<IWICImagingFactory>& factory) {
  check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory.p)),
        "CoCreateInstance(WICImagingFactory)");
}

std::string bytesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void store(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

// Red across, green down, blue 64: rows of BGR.
std::vector<BYTE> gradient(int width, int height) {
  std::vector<BYTE> pixels(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      BYTE* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = 64;
      p[1] = static_cast<BYTE>(y * 255 / std::max(1, height - 1));
      p[2] = static_cast<BYTE>(x * 255 / std::max(1, width - 1));
    }
  return pixels;
}

void put16(std::string& s, unsigned v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8 & 0xFF);
}
void put32(std::string& s, unsigned v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// The APP1 Exif segment WIC under Wine cannot write: little-endian TIFF, IFD0
// with Make, Model and Orientation.
std::string exifSegment(int orientation) {
  const std::string make = std::string(TestCameraMake) + '\0', model = std::string("Model 1") + '\0';
  std::string tiff = "II*";
  tiff += '\0';
  put32(tiff, 8);
  put16(tiff, 3);
  const unsigned data = 8 + 2 + 3 * 12 + 4;
  put16(tiff, 271), put16(tiff, 2), put32(tiff, static_cast<unsigned>(make.size())), put32(tiff, data);
  put16(tiff, 272), put16(tiff, 2), put32(tiff, static_cast<unsigned>(model.size())),
      put32(tiff, data + static_cast<unsigned>(make.size()));
  put16(tiff, 274), put16(tiff, 3), put32(tiff, 1), put16(tiff, static_cast<unsigned>(orientation)), put16(tiff, 0);
  put32(tiff, 0);
  tiff += make + model;
  std::string segment = "\xFF\xE1";
  const std::size_t length = 2 + 6 + tiff.size();
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  segment.append("Exif\0\0", 6);
  return segment + tiff;
}

// The TIFF body of the file's first APP1 Exif segment, empty when none.
std::string exifOf(const std::filesystem::path& file) {
  const std::string b = bytesOf(file);
  std::size_t at = 2;
  while (at + 4 <= b.size() && static_cast<unsigned char>(b[at]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(b[at + 1]);
    if (marker == 0xDA || marker == 0xD9) break;
    const std::size_t length = static_cast<unsigned char>(b[at + 2]) << 8 | static_cast<unsigned char>(b[at + 3]);
    if (marker == 0xE1 && length > 8 && b.compare(at + 4, 6, "Exif\0\0", 6) == 0)
      return b.substr(at + 10, length - 8);
    at += 2 + length;
  }
  return {};
}

struct Tag {
  unsigned type = 0, count = 0, value = 0;  // value: the inline value or the offset
  bool found = false;
};

Tag ifd0Tag(const std::string& tiff, unsigned id, bool& big) {
  Tag tag;
  if (tiff.size() < 8) return tag;
  big = tiff[0] == 'M';
  auto u = [&](std::size_t at, int n) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) {
      const unsigned byte = static_cast<unsigned char>(tiff.at(at + (big ? i : n - 1 - i)));
      v = v << 8 | byte;
    }
    return v;
  };
  const unsigned ifd = u(4, 4);
  const unsigned count = u(ifd, 2);
  for (unsigned i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + i * 12;
    if (u(entry, 2) != id) continue;
    tag.type = u(entry + 2, 2);
    tag.count = u(entry + 4, 4);
    tag.value = tag.type == 3 && tag.count == 1 ? u(entry + 8, 2) : u(entry + 8, 4);
    tag.found = true;
  }
  return tag;
}

void decode(IWICImagingFactory* factory, const std::filesystem::path& file, Com<IWICBitmapFrameDecode>& frame) {
  Com<IWICBitmapDecoder> decoder;
  check(factory->CreateDecoderFromFilename(file.wstring().c_str(), nullptr, GENERIC_READ,
                                           WICDecodeMetadataCacheOnDemand, &decoder.p),
        "CreateDecoderFromFilename");
  check(decoder->GetFrame(0, &frame.p), "GetFrame");
}

}  // namespace

void writeJpeg(const std::filesystem::path& file, int width, int height, int orientation, int qualityPercent) {
  Apartment com;
  Com<IWICImagingFactory> factory;
  createFactory(factory);
  std::vector<BYTE> pixels = gradient(width, height);
  Com<IWICBitmap> bitmap;
  check(factory->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat24bppBGR, width * 3,
                                        static_cast<UINT>(pixels.size()), pixels.data(), &bitmap.p),
        "CreateBitmapFromMemory");
  Com<IStream> memory;
  check(CreateStreamOnHGlobal(nullptr, TRUE, &memory.p), "CreateStreamOnHGlobal");
  Com<IWICBitmapEncoder> encoder;
  check(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder.p), "CreateEncoder");
  check(encoder->Initialize(memory.p, WICBitmapEncoderNoCache), "encoder Initialize");
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  check(encoder->CreateNewFrame(&frame.p, &options.p), "CreateNewFrame");
  PROPBAG2 option{};
  option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
  VARIANT quality;
  VariantInit(&quality);
  quality.vt = VT_R4;
  quality.fltVal = static_cast<float>(qualityPercent) / 100.0f;
  check(options->Write(1, &option, &quality), "ImageQuality");
  check(frame->Initialize(options.p), "frame Initialize");
  check(frame->SetSize(width, height), "SetSize");
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  check(frame->SetPixelFormat(&format), "SetPixelFormat");
  check(frame->WriteSource(bitmap.p, nullptr), "WriteSource");
  check(frame->Commit(), "frame Commit");
  check(encoder->Commit(), "encoder Commit");

  STATSTG stat{};
  check(memory->Stat(&stat, STATFLAG_NONAME), "Stat");
  HGLOBAL global = nullptr;
  check(GetHGlobalFromStream(memory.p, &global), "GetHGlobalFromStream");
  std::string jpeg(static_cast<const char*>(GlobalLock(global)), static_cast<std::size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(global);
  // Straight after the start of image, where cameras put it.
  jpeg.insert(2, exifSegment(orientation));
  store(file, jpeg);
}

void writeBmp(const std::filesystem::path& file, int width, int height) {
  const std::vector<BYTE> pixels = gradient(width, height);
  const unsigned rowSize = (static_cast<unsigned>(width) * 3 + 3) & ~3u;
  const unsigned imageSize = rowSize * static_cast<unsigned>(height);
  std::string bmp = "BM";
  put32(bmp, 14 + 40 + imageSize), put32(bmp, 0), put32(bmp, 14 + 40);
  put32(bmp, 40), put32(bmp, static_cast<unsigned>(width)), put32(bmp, static_cast<unsigned>(height));
  put16(bmp, 1), put16(bmp, 24), put32(bmp, 0), put32(bmp, imageSize);
  put32(bmp, 2835), put32(bmp, 2835), put32(bmp, 0), put32(bmp, 0);
  for (int y = height - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const char*>(&pixels[static_cast<std::size_t>(y) * width * 3]);
    bmp.append(row, static_cast<std::size_t>(width) * 3);
    bmp.append(rowSize - static_cast<unsigned>(width) * 3, '\0');
  }
  store(file, bmp);
}

std::pair<int, int> pictureSize(const std::filesystem::path& file) {
  Apartment com;
  Com<IWICImagingFactory> factory;
  createFactory(factory);
  Com<IWICBitmapFrameDecode> frame;
  decode(factory.p, file, frame);
  UINT width = 0, height = 0;
  check(frame->GetSize(&width, &height), "GetSize");
  return {static_cast<int>(width), static_cast<int>(height)};
}

int orientationOf(const std::filesystem::path& file) {
  bool big = false;
  const Tag tag = ifd0Tag(exifOf(file), 274, big);
  return tag.found ? static_cast<int>(tag.value) : 1;
}

std::string cameraMakeOf(const std::filesystem::path& file) {
  const std::string tiff = exifOf(file);
  bool big = false;
  const Tag tag = ifd0Tag(tiff, 271, big);
  if (!tag.found || tag.type != 2 || tag.count == 0) return {};
  std::string make;
  if (tag.count > 4) {
    make = tiff.substr(tag.value, tag.count);
  } else {
    // Short strings sit in the entry itself.
    for (unsigned i = 0; i < tag.count; ++i)
      make += static_cast<char>(big ? tag.value >> (24 - 8 * i) : tag.value >> (8 * i));
  }
  if (auto end = make.find('\0'); end != std::string::npos) make.erase(end);
  return make;
}

std::pair<int, int> redGreenAt(const std::filesystem::path& file, int x, int y) {
  Apartment com;
  Com<IWICImagingFactory> factory;
  createFactory(factory);
  Com<IWICBitmapFrameDecode> frame;
  decode(factory.p, file, frame);
  Com<IWICFormatConverter> converter;
  check(factory->CreateFormatConverter(&converter.p), "CreateFormatConverter");
  check(converter->Initialize(frame.p, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                              WICBitmapPaletteTypeCustom),
        "converter Initialize");
  const WICRect rect{x, y, 1, 1};
  BYTE pixel[3] = {};
  check(converter->CopyPixels(&rect, 3, 3, pixel), "CopyPixels");
  return {pixel[2], pixel[1]};
}

}  // namespace kiv::test
