// A property file may be damaged or edited by hand: reading it either succeeds
// or fails with kiv::Error, and what was read writes back to the same values.
#include <platform/host/error.hpp>
#include "property_file.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto bag = kiv::app::FilePropertyBag::parse(text, "fuzz");
    const std::string written = bag.text();
    auto again = kiv::app::FilePropertyBag::parse(written, "fuzz-again");
    if (again.text() != written) std::abort();
  } catch (const kiv::Error&) {
  }
  return 0;
}
