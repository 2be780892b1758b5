#pragma once

#include <platform/export.hpp>
#include <platform/host/variant.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv::host {

// Where a container keeps a control's saved properties.
class KIV_EXPORT PropertyBag {
 public:
  virtual ~PropertyBag();
  // The stored value under name, or defaultValue when none is stored.
  virtual Variant ReadProperty(std::string_view name, const Variant& defaultValue) = 0;
  virtual void WriteProperty(std::string_view name, const Variant& value, const Variant& defaultValue) = 0;
};

// A bag in memory; it remembers the order of writes.
class KIV_EXPORT MemoryPropertyBag : public PropertyBag {
 public:
  Variant ReadProperty(std::string_view name, const Variant& defaultValue) override;
  void WriteProperty(std::string_view name, const Variant& value, const Variant& defaultValue) override;

  bool contains(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  const std::vector<std::string>& writeOrder() const { return writeOrder_; }
  void set(std::string_view name, Variant value) { values_[std::string(name)] = std::move(value); }

 protected:
  std::map<std::string, Variant, std::less<>> values_;
  std::vector<std::string> writeOrder_;
};

// A bag kept in a text file, one "Name = value" per line, values in double
// quotes with backslash escapes or bare numbers; "#" starts a comment line.
// Saving writes a file beside the target and renames it over, created readable
// by its owner only (it holds the FTP password).
class KIV_EXPORT FilePropertyBag : public MemoryPropertyBag {
 public:
  // Reads the file; kiv::Error naming the file and line when it cannot be parsed.
  static FilePropertyBag load(const std::filesystem::path& file);
  static FilePropertyBag parse(std::string_view text, const std::string& origin);
  void save(const std::filesystem::path& file) const;
  std::string text() const;
  // The line a value was read from, 0 for one not read from a file.
  int lineOf(std::string_view name) const;
  void setFromLine(std::string_view name, Variant value, int line);

 private:
  std::map<std::string, int, std::less<>> lines_;
};

}  // namespace kiv::host
