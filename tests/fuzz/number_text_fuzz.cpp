// Properties arrive as text from hosts and callers: converting must give the
// number the C library reads from the same text, narrowed half to even, or fail
// with the classic error 6 (out of range) or 13 (no number), nothing else.
#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

template <typename Int>
void checkNarrowed(const std::string& text, double value, Int (kiv::host::Variant::*narrow)() const) {
  // Halves round to even: min - 0.5 to the even minimum, max + 0.5 past the odd maximum.
  const double low = std::numeric_limits<Int>::min() - 0.5, high = std::numeric_limits<Int>::max() + 0.5;
  const bool fits = value >= low && value < high;
  try {
    const Int whole = (kiv::host::Variant(text).*narrow)();
    const double off = std::abs(static_cast<double>(whole) - value);
    if (!fits || off > 0.5 || (off == 0.5 && whole % 2 != 0)) std::abort();
  } catch (const kiv::Error& error) {
    if (error.number() != kiv::errc::Overflow || fits) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  double value = 0;
  try {
    value = kiv::host::Variant(text).toDouble();
  } catch (const kiv::Error& error) {
    if (error.number() == kiv::errc::Overflow) {
      if (!std::isinf(std::strtod(text.c_str(), nullptr))) std::abort();
    } else if (error.number() != kiv::errc::TypeMismatch) {
      std::abort();
    }
    return 0;
  }
  if (!std::isfinite(value) || value != std::strtod(text.c_str(), nullptr)) std::abort();
  if (kiv::host::parseNumber(kiv::host::numberText(value)) != value) std::abort();
  checkNarrowed(text, value, &kiv::host::Variant::toInt16);
  checkNarrowed(text, value, &kiv::host::Variant::toInt32);
  return 0;
}
