#include "control_views.hpp"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace kiv::desktop {

QColor oleColor(host::OleColor color, const QPalette& palette) {
  if (color & 0x80000000u) {
    switch (color & 0xFF) {
      case 0x05: return palette.color(QPalette::Base);
      case 0x08: return palette.color(QPalette::Text);
      case 0x0F: return palette.color(QPalette::Button);
      case 0x12: return palette.color(QPalette::ButtonText);
      default: return palette.color(QPalette::Window);
    }
  }
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

namespace {

QImage imageOf(const host::Bitmap& bitmap) {
  if (bitmap.width <= 0 || bitmap.height <= 0) return {};
  // The picture is immutable and outlives the image: the views keep the state
  // (and with it the PictureRef) that the image was made from.
  return QImage(bitmap.rgba.data(), bitmap.width, bitmap.height, bitmap.width * 4, QImage::Format_RGBA8888);
}

}  // namespace

QImage pictureImage(const host::PictureRef& picture) { return picture ? imageOf(picture->bitmap()) : QImage(); }

QString accessibleNameFor(const ControlState& state) {
  const QString number = QString::number(state.index + 1);
  if (state.name == "Image2") return QStringLiteral("Photo %1").arg(number);
  if (state.name == "chkSelect") return QStringLiteral("Select photo %1").arg(number);
  if (state.name == "imgZoom") return QStringLiteral("Enlarged photo");
  if (state.name == "imgCancel") return QStringLiteral("Cancel");
  if (state.name == "imgUploadAll") return QStringLiteral("Upload All");
  if (state.name == "imgSelectedPhotos") return QStringLiteral("Upload Selected Photos");
  if (state.name == "VScroll1") return QStringLiteral("Scroll photos");
  if (state.name == "Frame1") return QStringLiteral("Photos");
  if (!state.caption.empty()) return QString::fromStdString(state.caption);
  return QString::fromStdString(state.key());
}

void ControlView::apply(const ControlState& state, ViewEvents& events) {
  state_ = state;
  QWidget* w = widget();
  const auto& g = state.geometry;
  const int left = static_cast<int>(std::lround(g.left));
  const int top = static_cast<int>(std::lround(g.top));
  w->setGeometry(left, top, static_cast<int>(std::lround(g.left + g.width)) - left,
                 static_cast<int>(std::lround(g.top + g.height)) - top);
  w->setEnabled(state.enabled);
  w->setAccessibleName(accessibleNameFor(state));
  if (state.mousePointer == host::pointer::Default) w->unsetCursor();
  else w->setCursor(events.cursorFor(state.mousePointer));
  w->setVisible(state.visible);
  w->update();
}

namespace {

// The classic dialog font is narrower than most: a caption that fits its box
// there is drawn a little smaller here rather than cut off.
QFont fittedFont(const QFont& base, const QString& text, int width, int lines) {
  QFont font = base;
  for (int size = base.pixelSize(); size > 8; --size) {
    font.setPixelSize(size);
    if (QFontMetrics(font).horizontalAdvance(text) <= width * lines) break;
  }
  return font;
}

// The gallery's elements sit in Frame1 and move with VScroll1, which lies
// beside the frame rather than inside it.
QScrollBar* galleryScrollBar(QWidget* widget) {
  for (; widget; widget = widget->parentWidget()) {
    if (widget->objectName() == QLatin1String("Frame1")) {
      QWidget* surface = widget->parentWidget();
      return surface ? surface->findChild<QScrollBar*>(QStringLiteral("VScroll1"), Qt::FindDirectChildrenOnly)
                     : nullptr;
    }
  }
  return nullptr;
}

// A wheel anywhere over the photos turns the gallery's scroll bar.
bool wheelGallery(QWidget& over, QWheelEvent* event) {
  QScrollBar* bar = galleryScrollBar(&over);
  if (!bar || bar->isHidden() || !bar->isEnabled()) return false;
  QWheelEvent forwarded(bar->mapFromGlobal(event->globalPosition()), event->globalPosition(), event->pixelDelta(),
                        event->angleDelta(), event->buttons(), event->modifiers(), event->phase(),
                        event->inverted(), event->source());
  QCoreApplication::sendEvent(bar, &forwarded);
  event->accept();
  return true;
}

// Tabbing onto an element scrolled out of the frame would otherwise act on
// something the user cannot see.
void revealInGallery(QWidget& element, const QFocusEvent* event) {
  if (event->reason() != Qt::TabFocusReason && event->reason() != Qt::BacktabFocusReason) return;
  QWidget* frame = element.parentWidget();
  QScrollBar* bar = galleryScrollBar(frame);
  if (!frame || !bar) return;
  const QRect area = frame->rect();
  const QRect place = element.geometry();
  if (area.contains(place)) return;
  const int pixels = place.top() < area.top() || place.height() > area.height() ? place.top() - area.top()
                                                                                 : place.bottom() - area.bottom();
  // The geometry is drawn at the last snapshot's value; the bar may be ahead of it.
  int drawnAt = bar->value();
  if (const auto* shown = dynamic_cast<const ControlView*>(bar)) drawnAt = shown->state().value;
  bar->setValue(drawnAt + pixels * static_cast<int>(host::scale::TwipsPerPixel));
}

// The style's own focus mark is faint or missing on these views: a highlight
// ring with a light line inside it stands out from a picture's own border.
void drawFocus(QPainter& painter, const QWidget& widget) {
  if (!widget.hasFocus()) return;
  auto ring = [&painter](const QRect& r, int line, const QColor& colour) {
    painter.fillRect(QRect(r.left(), r.top(), r.width(), line), colour);
    painter.fillRect(QRect(r.left(), r.bottom() - line + 1, r.width(), line), colour);
    painter.fillRect(QRect(r.left(), r.top(), line, r.height()), colour);
    painter.fillRect(QRect(r.right() - line + 1, r.top(), line, r.height()), colour);
  };
  ring(widget.rect(), 2, widget.palette().color(QPalette::Highlight));
  ring(widget.rect().adjusted(2, 2, -2, -2), 1, widget.palette().color(QPalette::Base));
}

class LabelView final : public QWidget, public ControlView {
 public:
  explicit LabelView(QWidget* parent) : QWidget(parent) {}
  QWidget* widget() override { return this; }
  void apply(const ControlState& state, ViewEvents& events) override {
    ControlView::apply(state, events);
    setToolTip({});
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QString text = QString::fromStdString(state_.caption);
    const int lines = std::max(1, height() / QFontMetrics(font()).lineSpacing());
    painter.setFont(fittedFont(font(), text, width() - 4, lines));
    painter.setPen(oleColor(state_.foreColor, palette()));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
  }
};

class ImageView final : public QWidget, public ControlView {
 public:
  explicit ImageView(QWidget* parent, ViewEvents& events) : QWidget(parent), events_(events) {}
  QWidget* widget() override { return this; }
  void apply(const ControlState& state, ViewEvents& events) override {
    ControlView::apply(state, events);
    setFocusPolicy(events.clickable(state.name) ? Qt::StrongFocus : Qt::NoFocus);
    fitImage();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    // Moved to a screen of another pixel ratio since the last snapshot.
    fitImage();
    QPainter painter(this);
    if (!image_.isNull()) {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      // Greyed out while it cannot be used, as during an upload.
      if (!isEnabled()) painter.setOpacity(0.4);
      painter.drawImage(QRectF(rect()), image_);
      painter.setOpacity(1);
    }
    drawFocus(painter, *this);
  }
  void focusInEvent(QFocusEvent* event) override {
    QWidget::focusInEvent(event);
    revealInGallery(*this, event);
  }
  void wheelEvent(QWheelEvent* event) override {
    if (!wheelGallery(*this, event)) QWidget::wheelEvent(event);
  }
  void mousePressEvent(QMouseEvent* event) override {
    pressed_ = event->button() == Qt::LeftButton;
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
      click();
    pressed_ = false;
  }
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Space:
        click();
        break;
      default:
        QWidget::keyPressEvent(event);
    }
  }

 private:
  void click() {
    if (isEnabled() && events_.clickable(state_.name)) events_.clicked(state_.name, state_.index);
  }

  // The picture's bitmap for the box it is stretched over, in device pixels;
  // takeSnapshot has decoded it already for the screen's ratio.
  void fitImage() {
    const qreal ratio = devicePixelRatioF();
    const QSize device(static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio)));
    if (state_.picture == imagePicture_ && device == imageDevice_) return;
    image_ = QImage();
    imagePicture_ = state_.picture;
    imageDevice_ = device;
    image_ = imagePicture_ ? imageOf(imagePicture_->bitmapFor(device.width(), device.height())) : QImage();
  }

  ViewEvents& events_;
  QImage image_;
  host::PictureRef imagePicture_;
  QSize imageDevice_;
  bool pressed_ = false;
};

class FrameView final : public QWidget, public ControlView {
 public:
  explicit FrameView(QWidget* parent) : QWidget(parent) {}
  QWidget* widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), oleColor(state_.backColor, palette()));
    // An etched border, as a frame without caption has.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -2, -2));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
  }
  void wheelEvent(QWheelEvent* event) override {
    if (!wheelGallery(*this, event)) QWidget::wheelEvent(event);
  }
};

class CheckBoxView final : public QCheckBox, public ControlView {
 public:
  CheckBoxView(QWidget* parent, ViewEvents& events) : QCheckBox(parent) {
    setTristate(false);
    connect(this, &QCheckBox::clicked, this, [this, &events](bool checked) {
      events.ticked(state_.name, state_.index, checked ? 1 : 0);
    });
  }
  QWidget* widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    {
      QPainter painter(this);
      painter.fillRect(rect(), background_);
    }
    QCheckBox::paintEvent(event);
    QPainter painter(this);
    drawFocus(painter, *this);
  }
  void focusInEvent(QFocusEvent* event) override {
    QCheckBox::focusInEvent(event);
    revealInGallery(*this, event);
  }
  void wheelEvent(QWheelEvent* event) override {
    if (!wheelGallery(*this, event)) QCheckBox::wheelEvent(event);
  }

 private:
  QColor background_ = Qt::white;

 public:
  void apply(const ControlState& state, ViewEvents& events) override {
    {
      QSignalBlocker blocker(this);
      setText(QString::fromStdString(state.caption));
      QFont base = parentWidget()->font();
      const int boxWidth = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                           style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) + 4;
      setFont(fittedFont(base, text(), static_cast<int>(state.geometry.width) - boxWidth, 1));
      background_ = oleColor(state.backColor, palette());
      setCheckState(state.value == 1 ? Qt::Checked : state.value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
      QPalette colours = palette();
      colours.setColor(QPalette::Window, oleColor(state.backColor, palette()));
      colours.setColor(QPalette::WindowText, oleColor(state.foreColor, palette()));
      setPalette(colours);
    }
    ControlView::apply(state, events);
    setFocusPolicy(Qt::StrongFocus);
  }
};

class ScrollBarView final : public QScrollBar, public ControlView {
 public:
  ScrollBarView(QWidget* parent, ViewEvents& events) : QScrollBar(Qt::Vertical, parent) {
    connect(this, &QScrollBar::sliderMoved, this,
            [this, &events](int value) { events.scrolled(state_.name, value, false); });
    connect(this, &QScrollBar::sliderReleased, this,
            [this, &events] { events.scrolled(state_.name, value(), true); });
    connect(this, &QScrollBar::valueChanged, this, [this, &events](int value) {
      if (!isSliderDown()) events.scrolled(state_.name, value, true);
    });
  }
  QWidget* widget() override { return this; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QScrollBar::paintEvent(event);
    QPainter painter(this);
    drawFocus(painter, *this);
  }

 public:
  void apply(const ControlState& state, ViewEvents& events) override {
    {
      QSignalBlocker blocker(this);
      setRange(state.min, state.max);
      setSingleStep(state.smallChange);
      setPageStep(state.largeChange);
      // Never pull the thumb from under the user's hand.
      if (!isSliderDown()) setValue(state.value);
    }
    ControlView::apply(state, events);
    setFocusPolicy(Qt::StrongFocus);
  }
};

}  // namespace

ControlView* makeView(const ControlState& state, QWidget* parent, ViewEvents& events) {
  ControlView* view = nullptr;
  switch (state.kind) {
    case host::ControlKind::Label: view = new LabelView(parent); break;
    case host::ControlKind::Image: view = new ImageView(parent, events); break;
    case host::ControlKind::Frame: view = new FrameView(parent); break;
    case host::ControlKind::CheckBox: view = new CheckBoxView(parent, events); break;
    case host::ControlKind::VScrollBar: view = new ScrollBarView(parent, events); break;
  }
  view->widget()->setObjectName(QString::fromStdString(state.key()));
  return view;
}

}  // namespace kiv::desktop
