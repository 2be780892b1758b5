// Properties arrive as text from hosts and callers: converting must either give
// a number in range or fail with the classic error 6 or 13, nothing else.
#include <platform/host/error.hpp>
#include <platform/host/variant.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::int16_t small = kiv::host::Variant(text).toInt16();
    if (kiv::host::Variant(std::to_string(small)).toInt16() != small) std::abort();
  } catch (const kiv::Error& error) {
    if (error.number() != kiv::errc::Overflow && error.number() != kiv::errc::TypeMismatch) std::abort();
  }
  try {
    const std::int32_t wide = kiv::host::Variant(text).toInt32();
    if (kiv::host::Variant(std::to_string(wide)).toInt32() != wide) std::abort();
  } catch (const kiv::Error& error) {
    if (error.number() != kiv::errc::Overflow && error.number() != kiv::errc::TypeMismatch) std::abort();
  }
  return 0;
}
