#pragma once

#include <platform/export.hpp>
#include <platform/host/variant.hpp>

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

}  // namespace kiv::host
