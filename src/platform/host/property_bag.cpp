#include <platform/host/property_bag.hpp>

namespace kiv::host {

PropertyBag::~PropertyBag() = default;

Variant MemoryPropertyBag::ReadProperty(std::string_view name, const Variant& defaultValue) {
  auto found = values_.find(name);
  return found == values_.end() ? defaultValue : found->second;
}

void MemoryPropertyBag::WriteProperty(std::string_view name, const Variant& value, const Variant&) {
  values_[std::string(name)] = value;
  writeOrder_.emplace_back(name);
}

}  // namespace kiv::host
