#include <platform/host/surface.hpp>

#include <platform/host/error.hpp>

namespace kiv::host {

Control::~Control() = default;
ControlArrayBase::~ControlArrayBase() = default;
Picture::~Picture() = default;

void throwMissingElement(const std::string& name, std::int16_t index) {
  throw Error(errc::ControlArrayElementDoesNotExist,
              "Control array element '" + name + "(" + std::to_string(index) + ")' doesn't exist");
}

void throwElementExists(const std::string& name, std::int16_t index) {
  throw Error(errc::ObjectAlreadyLoaded,
              "Object already loaded: '" + name + "(" + std::to_string(index) + ")'");
}

std::vector<Control*> Surface::controls() const {
  std::vector<Control*> all;
  for (const auto& child : children_) {
    if (auto* control = std::get_if<Control*>(&child)) {
      all.push_back(*control);
    } else {
      for (Control* element : std::get<ControlArrayBase*>(child)->elements()) all.push_back(element);
    }
  }
  return all;
}

void Surface::ScaleMode(std::int16_t mode) {
  if (mode != scale::Twips && mode != scale::Pixels) {
    throw Error(errc::InvalidProcedureCall, "ScaleMode must be 1 (twips) or 3 (pixels)");
  }
  if (mode == scaleMode_) return;
  auto convert = [mode](float& value) {
    value = mode == scale::Pixels ? value / scale::TwipsPerPixel : value * scale::TwipsPerPixel;
  };
  for (Control* control : controls()) {
    if (control->Container != nullptr) continue;
    convert(control->Left);
    convert(control->Top);
    convert(control->Width);
    convert(control->Height);
  }
  scaleMode_ = mode;
}

}  // namespace kiv::host
