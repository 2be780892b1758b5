#pragma once

#include <platform/host/text.hpp>

#include <string>

namespace kiv::text {

// "Uploading file 2 of 5."
inline std::string progressSentence(long n, long m) {
  return "Uploading file " + std::to_string(n) + " of " + std::to_string(m) + ".";
}

}  // namespace kiv::text
