#pragma once

// The property file: how the hosts keep the control's properties between runs.

#include <platform/host/property_bag.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace kiv::app {

// A bag kept in a text file, one "Name = value" per line, values in double
// quotes with backslash escapes or bare numbers; "#" starts a comment line.
// Saving writes a file beside the target and renames it over, created readable
// by its owner only (it holds the FTP password).
class FilePropertyBag : public host::MemoryPropertyBag {
 public:
  // Reads the file; kiv::Error naming the file and line when it cannot be parsed.
  static FilePropertyBag load(const std::filesystem::path& file);
  static FilePropertyBag parse(std::string_view text, const std::string& origin);
  void save(const std::filesystem::path& file) const;
  std::string text() const;
  // The line a value was read from, 0 for one not read from a file.
  int lineOf(std::string_view name) const;
  void setFromLine(std::string_view name, host::Variant value, int line);

 private:
  std::map<std::string, int, std::less<>> lines_;
};

}  // namespace kiv::app
