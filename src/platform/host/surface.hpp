#pragma once

#include <platform/export.hpp>
#include <platform/host/picture.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace kiv::host {

// Colours as the classic containers keep them: 0x00BBGGRR, or a system colour
// (high bit set, index in the low byte) that the host resolves.
using OleColor = std::uint32_t;
constexpr OleColor Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return static_cast<OleColor>(r) | static_cast<OleColor>(g) << 8 | static_cast<OleColor>(b) << 16;
}
inline constexpr OleColor SystemWindow = 0x80000005;
inline constexpr OleColor SystemWindowText = 0x80000008;
inline constexpr OleColor SystemButtonFace = 0x8000000F;
inline constexpr OleColor SystemButtonText = 0x80000012;

namespace pointer {
inline constexpr std::int16_t Default = 0;
inline constexpr std::int16_t Arrow = 1;
inline constexpr std::int16_t Hourglass = 11;
inline constexpr std::int16_t Custom = 99;
}  // namespace pointer

namespace scale {
inline constexpr std::int16_t Twips = 1;
inline constexpr std::int16_t Pixels = 3;
inline constexpr float TwipsPerPixel = 15;
}  // namespace scale

enum class ControlKind { Label, Image, CheckBox, Frame, VScrollBar };

struct Frame;

// Fields are the child control's properties. Setting one draws nothing: the host
// redraws only when the control asks its site to Refresh. Geometry is in the
// container's scale: the surface's for direct children, twips inside a frame.
struct KIV_EXPORT Control {
  explicit Control(ControlKind kind) : Kind(kind) {}
  virtual ~Control();
  Control(const Control&) = default;
  Control& operator=(const Control&) = default;

  ControlKind Kind;
  std::string Name;
  std::int16_t Index = -1;  // element index within a control array, -1 otherwise
  const Frame* Container = nullptr;  // null: directly on the surface
  float Left = 0, Top = 0, Width = 0, Height = 0;
  bool Visible = true;
  bool Enabled = true;
  std::string Tag;
  std::int16_t TabIndex = -1;  // -1: takes no focus
  std::int16_t MousePointer = pointer::Default;
  OleColor BackColor = SystemButtonFace;
  OleColor ForeColor = SystemButtonText;
};

struct KIV_EXPORT Label : Control {
  Label() : Control(ControlKind::Label) {}
  std::string Caption;
};

struct KIV_EXPORT Image : Control {
  Image() : Control(ControlKind::Image) {}
  PictureRef Picture;  // drawn stretched to the box; assigning leaves the box's size alone
  bool Stretch = true;
};

struct KIV_EXPORT CheckBox : Control {
  CheckBox() : Control(ControlKind::CheckBox) {}
  std::string Caption;
  std::int16_t Value = 0;  // 0 clear, 1 ticked, 2 grey
};

struct KIV_EXPORT Frame : Control {
  Frame() : Control(ControlKind::Frame) {}
  std::string Caption;
};

struct KIV_EXPORT VScrollBar : Control {
  VScrollBar() : Control(ControlKind::VScrollBar) {}
  // 32 bits wide so that a gallery of any length can be scrolled through.
  std::int32_t Value = 0;
  std::int32_t Min = 0;
  std::int32_t Max = 32767;
  std::int32_t SmallChange = 1;
  std::int32_t LargeChange = 1;
};

// A control array: element 0 is made at design time, Load(i) makes element i as
// a copy of element 0, invisible. Loading an existing index is error 360,
// reaching a missing one error 340.
class KIV_EXPORT ControlArrayBase {
 public:
  virtual ~ControlArrayBase();
  virtual std::vector<Control*> elements() const = 0;
};

template <typename T>
class ControlArray final : public ControlArrayBase {
 public:
  explicit ControlArray(T element0) {
    element0.Index = 0;
    elements_.emplace(0, std::make_unique<T>(std::move(element0)));
  }

  T& operator[](std::int16_t index) const;
  void Load(std::int16_t index);
  bool Exists(std::int16_t index) const { return elements_.count(index) != 0; }
  std::int16_t UBound() const { return elements_.rbegin()->first; }
  std::int16_t LBound() const { return elements_.begin()->first; }
  std::int16_t Count() const { return static_cast<std::int16_t>(elements_.size()); }

  std::vector<Control*> elements() const override {
    std::vector<Control*> all;
    for (const auto& [index, element] : elements_) all.push_back(element.get());
    return all;
  }

 private:
  std::map<std::int16_t, std::unique_ptr<T>> elements_;
};

[[noreturn]] KIV_EXPORT void throwMissingElement(const std::string& name, std::int16_t index);
[[noreturn]] KIV_EXPORT void throwElementExists(const std::string& name, std::int16_t index);

template <typename T>
T& ControlArray<T>::operator[](std::int16_t index) const {
  auto found = elements_.find(index);
  if (found == elements_.end()) throwMissingElement(elements_.begin()->second->Name, index);
  return *found->second;
}

template <typename T>
void ControlArray<T>::Load(std::int16_t index) {
  const T& first = *elements_.begin()->second;
  if (elements_.count(index)) throwElementExists(first.Name, index);
  auto element = std::make_unique<T>(first);
  element->Index = index;
  element->Visible = false;
  elements_.emplace(index, std::move(element));
}

// The control's own surface: its appearance, scale and children in stored order.
class KIV_EXPORT Surface {
 public:
  float Width = 0, Height = 0;  // design size, in twips
  OleColor BackColor = Rgb(255, 255, 255);
  std::int16_t MousePointer = pointer::Default;
  // The pointing-hand icon shown for MousePointer 99 (32 x 32, transparent around).
  PictureRef MouseIcon;
  int MouseIconHotX = 0, MouseIconHotY = 0;

  void add(Control& control) { children_.emplace_back(&control); }
  void add(ControlArrayBase& array) { children_.emplace_back(&array); }

  // Every child control, array elements included, in stored order.
  std::vector<Control*> controls() const;

  std::int16_t ScaleMode() const { return scaleMode_; }
  // Switching between twips and pixels re-expresses the direct children's
  // geometry in the new scale; children of a frame keep their twips.
  void ScaleMode(std::int16_t mode);

  // Converts a geometry value of a direct child to twips, whatever the scale.
  float toTwips(float value) const {
    return scaleMode_ == scale::Pixels ? value * scale::TwipsPerPixel : value;
  }

 private:
  std::vector<std::variant<Control*, ControlArrayBase*>> children_;
  std::int16_t scaleMode_ = scale::Twips;
};

}  // namespace kiv::host
