#pragma once

// One widget per child control, drawn from its state in the last snapshot.
// Views hold no logic of the control: they report the user's actions to a
// ViewEvents sink, which turns them into the control's events.

#include "snapshot.hpp"

#include <QCheckBox>
#include <QImage>
#include <QScrollBar>
#include <QWidget>

namespace kiv::desktop {

class ViewEvents {
 public:
  virtual ~ViewEvents() = default;
  virtual void clicked(const std::string& name, int index) = 0;
  virtual void ticked(const std::string& name, int index, int value) = 0;
  // settled: the value is where it stays (arrow, track, key, release);
  // otherwise the thumb is being dragged.
  virtual void scrolled(const std::string& name, int value, bool settled) = 0;
  // The cursor for a control's MousePointer (0: inherit).
  virtual QCursor cursorFor(int mousePointer) const = 0;
  virtual bool clickable(const std::string& name) const = 0;
};

QColor oleColor(host::OleColor color, const QPalette& palette);
// The picture's pixels as an image that shares them with the picture.
QImage pictureImage(const host::PictureRef& picture);
// The name a screen reader says for a control.
QString accessibleNameFor(const ControlState& state);

// Applies the common fields and then the kind's own.
class ControlView {
 public:
  virtual ~ControlView() = default;
  virtual QWidget* widget() = 0;
  virtual void apply(const ControlState& state, ViewEvents& events);
  const ControlState& state() const { return state_; }

 protected:
  ControlState state_;
};

ControlView* makeView(const ControlState& state, QWidget* parent, ViewEvents& events);

}  // namespace kiv::desktop
