#include "window.hpp"

#include "control_thread.hpp"

#include <control/upload.hpp>
#include <platform/host/property_bag.hpp>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace kiv::desktop {

class Window::Site final : public host::Site {
 public:
  explicit Site(Window& window) : window_(window) {}

  void Refresh() override {
    SurfaceSnapshot shot = takeSnapshot(window_.upload_->surface());
    onWindowThread([&] {
      window_.applySnapshot(shot);
      window_.repaint();
    });
  }
  void PropertyChanged(std::string_view) override {}
  void RaiseEvent(std::string_view name) override {
    if (name == "CloseApp") window_.closeApp_ = true;
  }
  std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override {
    int answer = 1;
    onWindowThread([&] {
      answer = window_.showMessage(QString::fromStdString(std::string(prompt)), buttons,
                                   QString::fromStdString(std::string(title)));
    });
    return static_cast<std::int16_t>(answer);
  }

 private:
  template <typename F>
  void onWindowThread(F&& f) {
    if (QThread::currentThread() == window_.thread()) f();
    else QMetaObject::invokeMethod(&window_, std::forward<F>(f), Qt::BlockingQueuedConnection);
  }

  Window& window_;
};

namespace {

constexpr const char* kTitle = "kivPhotoUpload";

std::string describe(const std::exception& error) {
  if (const auto* classic = dynamic_cast<const Error*>(&error))
    return "Run-time error " + std::to_string(classic->number()) + ": " + classic->what();
  return std::string("Error: ") + error.what();
}

}  // namespace

Window::Window(Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), site_(std::make_unique<Site>(*this)) {
  upload_ = std::make_unique<Upload>(*site_);
  thread_ = std::make_unique<ControlThread>();
  messageBox = [this](const QString& prompt, int, const QString& title) {
    QMessageBox::information(this, title.isEmpty() ? QString(kTitle) : title, prompt);
    return 1;
  };

  setWindowTitle(kTitle);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFont font = this->font();
  font.setPixelSize(11);  // the classic 8-point dialog font at 96 dpi
  setFont(font);
  const auto& surface = upload_->surface();
  setFixedSize(static_cast<int>(surface.Width / host::scale::TwipsPerPixel),
               static_cast<int>(surface.Height / host::scale::TwipsPerPixel));
  busyCursorDelay_.setSingleShot(true);
  busyCursorDelay_.setInterval(250);
  connect(&busyCursorDelay_, &QTimer::timeout, this, [this] {
    if (busy()) setCursor(Qt::BusyCursor);
  });

  applySnapshot(takeSnapshot(surface));

  post([](Upload& upload) { upload.Initialize(); });
  post([this](Upload& upload) {
    if (!options_.propertiesFile) {
      upload.InitProperties();
      return;
    }
    std::error_code ignored;
    if (std::filesystem::exists(*options_.propertiesFile, ignored)) {
      // A file that cannot be read is never written over on close.
      bag_ = std::make_unique<host::FilePropertyBag>(host::FilePropertyBag::load(*options_.propertiesFile));
      saveOnClose_ = true;
      upload.ReadProperties(*bag_);
    } else {
      bag_ = std::make_unique<host::FilePropertyBag>();
      saveOnClose_ = true;
      upload.InitProperties();
    }
  });
  for (const auto& [name, value] : options_.properties)
    post([name = name, value = value](Upload& upload) { applyProperty(upload, name, value); });
}

Window::~Window() {
  waitIdle(-1);
  thread_.reset();
}

void Window::post(std::function<void(Upload&)> event) {
  if (pending_++ == 0) busyCursorDelay_.start();
  thread_->post([this, event = std::move(event)] {
    try {
      event(*upload_);
    } catch (const std::exception& error) {
      reportError(describe(error));
    }
    SurfaceSnapshot shot = takeSnapshot(upload_->surface());
    bool closeApp = closeApp_.exchange(false);
    QMetaObject::invokeMethod(
        this, [this, shot = std::move(shot), closeApp]() mutable { finished(std::move(shot), closeApp); },
        Qt::QueuedConnection);
  });
}

void Window::finished(SurfaceSnapshot shot, bool closeApp) {
  // The container repaints what an event left once it has returned.
  applySnapshot(shot);
  if (--pending_ == 0) {
    busyCursorDelay_.stop();
    unsetCursor();
  }
  if (closeApp || (closeWhenIdle_ && !busy())) {
    closeWhenIdle_ = true;
    if (!busy()) close();
  }
}

bool Window::waitIdle(int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (busy()) {
    if (timeoutMs >= 0 && clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void Window::runOnControl(const std::function<void(Upload&)>& code) {
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  thread_->post([&] {
    try {
      code(*upload_);
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  if (failure) std::rethrow_exception(failure);
}

QWidget* Window::view(const std::string& key) const {
  auto found = views_.find(key);
  return found == views_.end() ? nullptr : found->second->widget();
}

std::vector<std::string> Window::errors() const {
  std::lock_guard lock(errorsMutex_);
  return errors_;
}

void Window::reportError(const std::string& text) {
  {
    std::lock_guard lock(errorsMutex_);
    errors_.push_back(text);
  }
  std::fprintf(stderr, "kivphoto-desktop: %s\n", text.c_str());
  site_->MsgBox(text, 16, kTitle);
}

int Window::showMessage(const QString& prompt, int buttons, const QString& title) {
  // The busy pointer would hide that the box waits for the user.
  QCursor saved = cursor();
  unsetCursor();
  int answer = messageBox(prompt, buttons, title);
  if (busy()) setCursor(saved);
  return answer;
}

void Window::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window the window system restores from minimised is not shown anew: a
  // second Show would scan again and clear the user's ticks.
  if (!event->spontaneous()) post([](Upload& upload) { upload.Show(); });
}

void Window::closeEvent(QCloseEvent* event) {
  if (busy()) {
    closeWhenIdle_ = true;
    event->ignore();
    return;
  }
  if (closing_) return;
  if (saveOnClose_ && bag_) {
    try {
      runOnControl([this](Upload& upload) { upload.WriteProperties(*bag_); });
      bag_->save(*options_.propertiesFile);
    } catch (const std::exception& error) {
      std::string text = describe(error);
      {
        std::lock_guard lock(errorsMutex_);
        errors_.push_back(text);
      }
      std::fprintf(stderr, "kivphoto-desktop: %s\n", text.c_str());
      showMessage(QString::fromStdString(text), 16, kTitle);
    }
  }
  closing_ = true;
  event->accept();
}

void Window::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), oleColor(shown_.backColor, palette()));
}

void Window::applySnapshot(const SurfaceSnapshot& shot) {
  bool added = false;
  for (const ControlState& state : shot.controls) {
    const std::string key = state.key();
    auto found = views_.find(key);
    if (found == views_.end()) {
      QWidget* parent = this;
      if (!state.container.empty()) {
        if (auto frame = views_.find(state.container); frame != views_.end()) parent = frame->second->widget();
      }
      found = views_.emplace(key, makeView(state, parent, *this)).first;
      added = true;
    }
    found->second->apply(state, *this);
  }
  // Earlier in stored order lies on top.
  for (auto it = shot.controls.rbegin(); it != shot.controls.rend(); ++it) views_.at(it->key())->widget()->raise();
  const bool iconChanged = shot.mouseIcon != shown_.mouseIcon;
  shown_ = shot;
  if (iconChanged) {
    for (auto& [key, view] : views_) {
      if (view->state().mousePointer == host::pointer::Custom) view->widget()->setCursor(cursorFor(host::pointer::Custom));
    }
  }
  if (added) updateTabOrder();
  update();
}

void Window::updateTabOrder() {
  // Tab indexes first; a clickable picture without one (a thumbnail) goes just
  // before the tabbed control of its array index in the same frame (its check
  // box); the picture buttons follow, left to right.
  std::vector<std::tuple<int, int, int, double, QWidget*>> order;
  for (const ControlState& state : shown_.controls) {
    QWidget* widget = view(state.key());
    if (!widget || widget->focusPolicy() == Qt::NoFocus) continue;
    int tab = state.tabIndex;
    int rank = 1;
    if (tab < 0) {
      tab = 10000;
      rank = 0;
      if (!state.container.empty()) {
        for (const ControlState& other : shown_.controls) {
          if (other.container == state.container && other.index == state.index && other.tabIndex >= 0) {
            tab = other.tabIndex;
            break;
          }
        }
      }
    }
    order.emplace_back(tab, state.index, rank, state.geometry.left, widget);
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<0>(a), std::get<1>(a), std::get<2>(a), std::get<3>(a)) <
           std::tie(std::get<0>(b), std::get<1>(b), std::get<2>(b), std::get<3>(b));
  });
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(std::get<4>(order[i - 1]), std::get<4>(order[i]));
}

void Window::clicked(const std::string& name, int index) {
  if (name == "Image2") post([index](Upload& upload) { upload.Image2_Click(static_cast<std::int16_t>(index)); });
  else if (name == "imgCancel") post([](Upload& upload) { upload.imgCancel_Click(); });
  else if (name == "imgUploadAll") post([](Upload& upload) { upload.imgUploadAll_Click(); });
  else if (name == "imgSelectedPhotos") post([](Upload& upload) { upload.imgSelectedPhotos_Click(); });
}

bool Window::clickable(const std::string& name) const {
  return name == "Image2" || name == "imgCancel" || name == "imgUploadAll" || name == "imgSelectedPhotos";
}

void Window::ticked(const std::string& name, int index, int value) {
  if (name != "chkSelect") return;
  post([index, value](Upload& upload) {
    upload.chkSelect[static_cast<std::int16_t>(index)].Value = static_cast<std::int16_t>(value);
  });
}

void Window::scrolled(const std::string& name, int value, bool settled) {
  if (name != "VScroll1") return;
  post([value, settled](Upload& upload) {
    upload.VScroll1.Value = value;
    if (settled) upload.VScroll1_Change();
    else upload.VScroll1_Scroll();
  });
}

QCursor Window::cursorFor(int mousePointer) const {
  switch (mousePointer) {
    case host::pointer::Arrow: return Qt::ArrowCursor;
    case host::pointer::Hourglass: return Qt::WaitCursor;
    case host::pointer::Custom: {
      QImage icon = pictureImage(shown_.mouseIcon);
      if (icon.isNull()) return Qt::PointingHandCursor;
      return QCursor(QPixmap::fromImage(icon.copy()), shown_.mouseIconHotX, shown_.mouseIconHotY);
    }
    default: return Qt::ArrowCursor;
  }
}

}  // namespace kiv::desktop
