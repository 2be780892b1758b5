#include <platform/host/variant.hpp>

#include <platform/host/error.hpp>
#include <platform/host/text.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace kiv::host {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void typeMismatch(std::string_view text) {
  throw Error(errc::TypeMismatch, "Type mismatch: \"" + std::string(text) + "\" is not a number");
}

[[noreturn]] void overflow(double value) {
  throw Error(errc::Overflow, "Overflow: " + numberText(value) + " is out of range");
}

template <typename Int>
Int narrow(double value) {
  if (std::isnan(value)) throw Error(errc::Overflow, "Overflow: not a number");
  const double rounded = std::nearbyint(value);  // the default mode rounds half to even
  if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
    overflow(value);
  }
  return static_cast<Int>(rounded);
}

// Roughly the power of ten of an unsigned decimal number already checked for shape:
// positive for numbers of 1 and above. Exponents may have any number of digits, so
// every count saturates far beyond double's range instead of overflowing.
long long decimalMagnitude(std::string_view number) {
  constexpr long long saturated = 100'000'000'000'000'000;
  long long magnitude = 0;
  bool seenPoint = false, seenNonZero = false;
  std::size_t i = 0;
  for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
    if (number[i] == '.') {
      seenPoint = true;
    } else if (!seenNonZero && number[i] == '0') {
      if (seenPoint) magnitude = std::max(magnitude - 1, -saturated);
    } else {
      seenNonZero = true;
      if (!seenPoint) magnitude = std::min(magnitude + 1, saturated);
    }
  }
  if (!seenNonZero) return -1;
  if (i < number.size()) {
    const bool negativeExponent = number[++i] == '-';
    if (number[i] == '+' || number[i] == '-') ++i;
    long long exponent = 0;
    for (; i < number.size(); ++i) exponent = std::min(exponent * 10 + (number[i] - '0'), saturated);
    magnitude += negativeExponent ? -exponent : exponent;
  }
  return magnitude;
}

}  // namespace

double parseNumber(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  std::string_view number = text.substr(begin, end - begin);

  // Check the shape ourselves: from_chars alone would accept "inf", "nan" and hex.
  std::size_t i = 0;
  bool negative = false;
  if (i < number.size() && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
  const std::size_t mantissa = i;
  std::size_t digits = 0;
  while (i < number.size() && isDigit(number[i])) ++i, ++digits;
  if (i < number.size() && number[i] == '.') {
    ++i;
    while (i < number.size() && isDigit(number[i])) ++i, ++digits;
  }
  if (digits == 0) typeMismatch(text);
  if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
    ++i;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < number.size() && isDigit(number[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) typeMismatch(text);
  }
  if (i != number.size()) typeMismatch(text);

  double value = 0;
  const std::string_view body = number.substr(mantissa);
  const auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Out of double's range either way: a tiny magnitude is zero, a huge one overflows.
    if (decimalMagnitude(body) > 0) {
      throw Error(errc::Overflow, "Overflow: " + std::string(text) + " is out of range");
    }
    value = 0;
  } else if (ec != std::errc() || ptr != body.data() + body.size()) {
    typeMismatch(text);
  }
  return negative ? -value : value;
}

std::int16_t toInt16(double value) { return narrow<std::int16_t>(value); }
std::int32_t toInt32(double value) { return narrow<std::int32_t>(value); }

std::string numberText(double value) {
  if (std::isfinite(value) && value == std::trunc(value) && std::abs(value) < 1e15) {
    return std::to_string(static_cast<long long>(value));
  }
  char buffer[64];
  const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, ptr) : std::string("0");
}

double Variant::toDouble() const {
  switch (kind()) {
    case Kind::Empty: return 0;
    case Kind::Int16: return std::get<std::int16_t>(value_);
    case Kind::Int32: return std::get<std::int32_t>(value_);
    case Kind::Double: return std::get<double>(value_);
    case Kind::Bool: return std::get<bool>(value_) ? -1 : 0;
    case Kind::String: return parseNumber(std::get<std::string>(value_));
    case Kind::Array: break;
  }
  throw Error(errc::TypeMismatch, "Type mismatch: an array is not a number");
}

std::int16_t Variant::toInt16() const {
  if (kind() == Kind::Int16) return std::get<std::int16_t>(value_);
  return host::toInt16(toDouble());
}

std::int32_t Variant::toInt32() const {
  if (kind() == Kind::Int32) return std::get<std::int32_t>(value_);
  return host::toInt32(toDouble());
}

bool Variant::toBool() const {
  switch (kind()) {
    case Kind::Bool: return std::get<bool>(value_);
    case Kind::String: {
      const std::string& text = std::get<std::string>(value_);
      if (text::equalsIgnoringCase(text, "True")) return true;
      if (text::equalsIgnoringCase(text, "False")) return false;
      return parseNumber(text) != 0;
    }
    default: return toDouble() != 0;
  }
}

std::string Variant::toString() const {
  switch (kind()) {
    case Kind::Empty: return {};
    case Kind::Int16: return std::to_string(std::get<std::int16_t>(value_));
    case Kind::Int32: return std::to_string(std::get<std::int32_t>(value_));
    case Kind::Double: return numberText(std::get<double>(value_));
    case Kind::Bool: return std::get<bool>(value_) ? "True" : "False";
    case Kind::String: return std::get<std::string>(value_);
    case Kind::Array: break;
  }
  throw Error(errc::TypeMismatch, "Type mismatch: an array is not text");
}

const Variant::Array& Variant::array() const {
  if (kind() != Kind::Array) throw Error(errc::TypeMismatch, "Type mismatch: the value is not an array");
  return std::get<Array>(value_);
}

Variant::Array& Variant::array() {
  if (kind() != Kind::Array) throw Error(errc::TypeMismatch, "Type mismatch: the value is not an array");
  return std::get<Array>(value_);
}

}  // namespace kiv::host
