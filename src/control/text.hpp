#pragma once

#include <string>
#include <string_view>

namespace kiv::text {

// ASCII upper case, as the capture-mode comparison needs.
inline std::string upper(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// "Uploading file 2 of 5."
inline std::string progressSentence(long n, long m) {
  return "Uploading file " + std::to_string(n) + " of " + std::to_string(m) + ".";
}

}  // namespace kiv::text
