#include "wic_support.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kiv::imaging::detail {

namespace {

std::string hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::uint16_t read16(const std::string& b, std::size_t at, bool big) {
  const auto x = static_cast<unsigned char>(b[at]), y = static_cast<unsigned char>(b[at + 1]);
  return static_cast<std::uint16_t>(big ? (x << 8 | y) : (y << 8 | x));
}

std::uint32_t read32(const std::string& b, std::size_t at, bool big) {
  const std::uint32_t hi = read16(b, at, big), lo = read16(b, at + 2, big);
  return big ? (hi << 16 | lo) : (lo << 16 | hi);
}

// Where IFD0's orientation entry keeps its value, 0 when there is none.
std::size_t orientationValueAt(const std::string& tiff, bool& big) {
  if (tiff.size() < 8) return 0;
  if (tiff.compare(0, 4, "II*\0", 4) == 0)
    big = false;
  else if (tiff.compare(0, 4, "MM\0*", 4) == 0)
    big = true;
  else
    return 0;
  const std::uint32_t ifd = read32(tiff, 4, big);
  if (ifd < 8 || ifd > tiff.size() - 2) return 0;
  const std::uint16_t count = read16(tiff, ifd, big);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + i * 12;
    if (entry + 12 > tiff.size()) return 0;
    if (read16(tiff, entry, big) == 274 && read16(tiff, entry + 2, big) == 3 && read32(tiff, entry + 4, big) == 1)
      return entry + 8;
  }
  return 0;
}

}  // namespace

ComApartment::ComApartment() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr))
    entered_ = true;
  else if (hr != RPC_E_CHANGED_MODE)  // the thread's own apartment serves as well
    check(hr, errc::ObjectDoesNotSupportAction, "COM could not be started");
}

ComApartment::~ComApartment() {
  if (entered_) CoUninitialize();
}

void throwWindowsError(DWORD code, const std::string& what, PathKind kind) {
  throw Error(windowsErrorNumber(code, kind), what + ": " + windowsErrorMessage(code));
}

void check(HRESULT hr, int number, const std::string& what, PathKind kind) {
  if (SUCCEEDED(hr)) return;
  if (HRESULT_FACILITY(hr) == FACILITY_WIN32) throwWindowsError(HRESULT_CODE(hr), what, kind);
  if (hr == E_OUTOFMEMORY) throw Error(errc::ObjectDoesNotSupportAction, what + ": out of memory");
  throw Error(number, what + " (" + hex(static_cast<unsigned long>(hr)) + ")");
}

ComPtr<IWICImagingFactory> createFactory() {
  ComPtr<IWICImagingFactory> factory;
  check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                         reinterpret_cast<void**>(factory.out())),
        errc::ObjectDoesNotSupportAction, "The imaging component could not be started");
  return factory;
}

bool runningUnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

int exifOrientation(const std::string& tiff) {
  bool big = false;
  const std::size_t at = orientationValueAt(tiff, big);
  if (at == 0) return 0;
  const int value = read16(tiff, at, big);
  return value >= 1 && value <= 8 ? value : 0;
}

bool setExifOrientation(std::string& tiff, int orientation) {
  bool big = false;
  const std::size_t at = orientationValueAt(tiff, big);
  if (at == 0) return false;
  tiff[at] = static_cast<char>(big ? 0 : orientation);
  tiff[at + 1] = static_cast<char>(big ? orientation : 0);
  return true;
}

}  // namespace kiv::imaging::detail
