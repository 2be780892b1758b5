// Values a container hands the control through a property bag: whatever their
// shape (unknown types, arrays without items, missing strings), taking one
// must either give a value that survives the trip back to C, or refuse it
// with error 13 and leave nothing the container's kiv_variant_clear would
// free wrongly.
#include <control/c_variant.hpp>
#include <platform/host/error.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Hands out the bytes as the pieces of a value, and keeps every allocation,
// so a refused value (forgotten, not freed, by the control) frees nothing twice.
struct Builder {
  const std::uint8_t* data;
  std::size_t size;
  std::vector<void*> allocations;

  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  char* text() {
    std::string piece;
    while (size > 0 && *data != 0) piece += static_cast<char>(byte());
    byte();
    char* copy = static_cast<char*>(std::malloc(piece.size() + 1));
    std::memcpy(copy, piece.c_str(), piece.size() + 1);
    allocations.push_back(copy);
    return copy;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Builder in{data, size, {}};
  kiv_variant value;
  kiv_variant_init(&value);
  const std::uint8_t kind = in.byte();
  const std::uint16_t types[] = {KIV_VT_EMPTY, KIV_VT_I2, KIV_VT_I4, KIV_VT_R8, KIV_VT_STR, KIV_VT_BOOL, KIV_VT_STR_ARRAY};
  value.vt = kind < 7 ? types[kind] : static_cast<std::uint16_t>(kind << 8 | in.byte());
  const std::uint8_t shape = in.byte();
  if (value.vt == KIV_VT_STR) {
    value.u.str = (shape & 1) != 0 ? nullptr : in.text();
  } else if (value.vt == KIV_VT_STR_ARRAY) {
    value.u.array.count = shape >> 2;
    if ((shape & 1) == 0) {
      value.u.array.items = static_cast<char**>(std::calloc(value.u.array.count + 1, sizeof(char*)));
      in.allocations.push_back(value.u.array.items);
      for (std::size_t i = 0; i < value.u.array.count; ++i) {
        value.u.array.items[i] = (in.byte() & 1) != 0 ? nullptr : in.text();
      }
    }
  } else {
    std::uint8_t raw[sizeof value.u] = {};
    for (auto& b : raw) b = in.byte();
    std::memcpy(&value.u, raw, sizeof raw);
  }

  const bool wellFormed = kiv::cface::wellFormed(value);
  try {
    const kiv::host::Variant taken = kiv::cface::adoptFromContainer(value);
    const kiv::cface::OwnedVariant back(taken);
    const bool notANumber = taken.kind() == kiv::host::Variant::Kind::Double && std::isnan(taken.toDouble());
    if (!notANumber && !(kiv::cface::fromC(back.c) == taken)) std::abort();
  } catch (const kiv::Error& error) {
    if (error.number() != kiv::errc::TypeMismatch) std::abort();
    if (value.vt != KIV_VT_EMPTY) std::abort();  // refused, yet still claims to own memory
  }
  if (!wellFormed && value.vt != KIV_VT_EMPTY) std::abort();
  if (value.vt == KIV_VT_STR || value.vt == KIV_VT_STR_ARRAY) {
    kiv_variant_clear(&value);  // frees what the builder made, as the container would
  } else {
    for (void* allocation : in.allocations) std::free(allocation);
  }
  return 0;
}
