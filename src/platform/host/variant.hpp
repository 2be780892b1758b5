#pragma once

#include <platform/export.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kiv::host {

// The dynamically typed value that properties, property bags and the dispatch
// interface exchange. Conversions follow the classic runtime: text becomes a
// number when it is a decimal number (spaces around it, sign, fraction and
// exponent allowed), fractions round half to even, a result outside the target
// width is error 6 (overflow) and anything else error 13 (type mismatch).
class KIV_EXPORT Variant {
 public:
  struct Empty {
    bool operator==(const Empty&) const = default;
  };
  using Array = std::vector<std::string>;
  enum class Kind { Empty, Int16, Int32, Double, Bool, String, Array };

  Variant() = default;
  Variant(std::int16_t v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(Array v) : value_(std::move(v)) {}

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool isEmpty() const { return kind() == Kind::Empty; }

  std::int16_t toInt16() const;
  std::int32_t toInt32() const;
  double toDouble() const;
  bool toBool() const;
  std::string toString() const;
  // The array a variant holds; error 13 for any other kind.
  const Array& array() const;
  Array& array();

  bool operator==(const Variant&) const = default;

 private:
  std::variant<Empty, std::int16_t, std::int32_t, double, bool, std::string, Array> value_;
};

// Text-to-number conversion of the classic runtime, used for properties given as
// text. Throws kiv::Error 13 for text that is no number.
KIV_EXPORT double parseNumber(std::string_view text);
// Rounds half to even and narrows; kiv::Error 6 when out of range.
KIV_EXPORT std::int16_t toInt16(double value);
KIV_EXPORT std::int32_t toInt32(double value);
// Plain decimal text: minus sign for negatives, no leading blank, no grouping.
KIV_EXPORT std::string numberText(double value);

}  // namespace kiv::host
