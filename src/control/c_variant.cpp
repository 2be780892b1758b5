#include <control/c_variant.hpp>
#include <platform/host/error.hpp>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace kiv::cface {

using host::Variant;

char* copyText(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

Variant fromC(const kiv_variant& v) {
  switch (v.vt) {
    case KIV_VT_EMPTY: return Variant();
    case KIV_VT_I2: return Variant(v.u.i2);
    case KIV_VT_I4: return Variant(v.u.i4);
    case KIV_VT_R8: return Variant(v.u.r8);
    case KIV_VT_BOOL: return Variant(v.u.boolean != 0);
    case KIV_VT_STR: return Variant(std::string(v.u.str != nullptr ? v.u.str : ""));
    case KIV_VT_STR_ARRAY: {
      if (v.u.array.count > 0 && v.u.array.items == nullptr) throw std::invalid_argument("array without items");
      Variant::Array items;
      items.reserve(v.u.array.count);
      for (std::size_t i = 0; i < v.u.array.count; ++i)
        items.emplace_back(v.u.array.items[i] != nullptr ? v.u.array.items[i] : "");
      return Variant(std::move(items));
    }
    default: throw std::invalid_argument("unknown variant type " + std::to_string(v.vt));
  }
}

bool wellFormed(const kiv_variant& v) {
  return v.vt != KIV_VT_STR_ARRAY || v.u.array.count == 0 || v.u.array.items != nullptr;
}

void toC(const Variant& value, kiv_variant& out) {
  kiv_variant made;
  kiv_variant_init(&made);
  switch (value.kind()) {
    case Variant::Kind::Empty: break;
    case Variant::Kind::Int16: made.vt = KIV_VT_I2; made.u.i2 = value.toInt16(); break;
    case Variant::Kind::Int32: made.vt = KIV_VT_I4; made.u.i4 = value.toInt32(); break;
    case Variant::Kind::Double: made.vt = KIV_VT_R8; made.u.r8 = value.toDouble(); break;
    case Variant::Kind::Bool: made.vt = KIV_VT_BOOL; made.u.boolean = value.toBool() ? -1 : 0; break;
    case Variant::Kind::String: made.u.str = copyText(value.toString()); made.vt = KIV_VT_STR; break;
    case Variant::Kind::Array: {
      const Variant::Array& items = value.array();
      made.vt = KIV_VT_STR_ARRAY;
      made.u.array.items = static_cast<char**>(std::calloc(items.size() + 1, sizeof(char*)));
      if (made.u.array.items == nullptr) throw std::bad_alloc();
      try {
        for (const std::string& item : items) {
          made.u.array.items[made.u.array.count] = copyText(item);
          ++made.u.array.count;
        }
      } catch (...) {
        kiv_variant_clear(&made);
        throw;
      }
      break;
    }
  }
  kiv_variant_clear(&out);
  out = made;
}

Variant adoptFromContainer(kiv_variant& value) {
  try {
    return fromC(value);
  } catch (const std::invalid_argument& e) {
    kiv_variant_init(&value);
    throw Error(errc::TypeMismatch, e.what());
  }
}

}  // namespace kiv::cface
