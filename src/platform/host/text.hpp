#pragma once

#include <algorithm>
#include <string>
#include <string_view>

// ASCII case handling for names and modes the control compares: member names,
// "EXPRESSPHOTOS", "True". Locale-independent on purpose, so a host's locale
// cannot change what a name means.
namespace kiv::text {

constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string upper(std::string_view value) {
  std::string out(value);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return upper(c); });
  return out;
}

inline std::string lower(std::string_view value) {
  std::string out(value);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return lower(c); });
  return out;
}

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace kiv::text
