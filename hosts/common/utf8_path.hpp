#pragma once

// The hosts keep paths as UTF-8 text, as the control does. std::filesystem on
// Windows reads and writes a char string in the ANSI code page instead, so
// paths cross over as char8_t.

#include <filesystem>
#include <string>
#include <string_view>

namespace kiv::app {

inline std::filesystem::path pathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

inline std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace kiv::app
