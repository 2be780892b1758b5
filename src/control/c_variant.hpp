#pragma once

// Values across the C face: the kiv_variant a C caller or container owns,
// and the host::Variant the control works with.
#include <control/kivphotoupload.h>
#include <platform/host/variant.hpp>

#include <string>

namespace kiv::cface {

// A malloc'ed copy, as kiv_variant_clear frees it.
char* copyText(const std::string& text);

// Throws std::invalid_argument for an unknown type or an array without items.
host::Variant fromC(const kiv_variant& v);

// Whether kiv_variant_clear may free the value as it claims to be.
bool wellFormed(const kiv_variant& v);

// Builds the C value completely before touching out, so a failure leaves out as it was.
void toC(const host::Variant& value, kiv_variant& out);

// A value a container handed over, taken as the control's own. A malformed
// one is refused with error 13 and forgotten, not freed: freed as it claims
// to be, it would crash the process.
host::Variant adoptFromContainer(kiv_variant& value);

class OwnedVariant {
 public:
  explicit OwnedVariant(const host::Variant& value) {
    kiv_variant_init(&c);
    toC(value, c);
  }
  ~OwnedVariant() { kiv_variant_clear(&c); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;

  kiv_variant c;
};

}  // namespace kiv::cface
