#include "window.hpp"

#include <platform/host/text.hpp>

#include "control_thread.hpp"

#include <control/click_routing.hpp>
#include <control/upload.hpp>
#include <platform/internet/internet.hpp>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <filesystem>
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
    {
      std::lock_guard lock(window_.askedMutex_);
      window_.messages_.emplace_back(prompt);
    }
    int answer = 1;
    onWindowThread([&] {
      answer = window_.showMessage(QString::fromStdString(std::string(prompt)), buttons,
                                   QString::fromStdString(std::string(title)));
    });
    return static_cast<std::int16_t>(answer);
  }
  bool StopRequested() override { return window_.stopRequested_; }
  void PhotoSent(const std::string& path) override {
    std::lock_guard lock(window_.askedMutex_);
    window_.sent_.insert(path);
  }
  void PhotoKept(const std::string& path, std::string_view reason) override {
    {
      std::lock_guard lock(window_.askedMutex_);
      window_.reasons_[path] = std::string(reason);
    }
    const QString text =
        QFileInfo(QString::fromStdString(path)).fileName() + ": " + QString::fromStdString(std::string(reason));
    onWindowThread([&] { window_.showNotice(text); });
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

constexpr const char* kTickFirst = "Tick the photos to send first.";

std::string describe(const std::exception& error) {
  if (const auto* classic = dynamic_cast<const Error*>(&error))
    return "Run-time error " + std::to_string(classic->number()) + ": " + classic->what();
  return std::string("Error: ") + error.what();
}

// Views the user acts on through the control; they rest while an event runs.
bool takesClicks(const std::string& name) {
  return name == "Image2" || name == "chkSelect" || name == "imgUploadAll" || name == "imgSelectedPhotos" ||
         name == "VScroll1";
}

}  // namespace

Window::Window(app::Options options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), site_(std::make_unique<Site>(*this)) {
  upload_ = std::make_unique<Upload>(*site_);
  thread_ = std::make_unique<ControlThread>();
  messageBox = [this](const QString& prompt, int, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? QString(kTitle) : title, prompt, QMessageBox::Ok, this);
    box.exec();
    return 1;
  };
  chooseFolder = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, "Choose the photo folder", start);
  };

  setWindowTitle(kTitle);
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFont font = this->font();
  font.setPixelSize(11);  // the classic 8-point dialog font at 96 dpi
  setFont(font);
  const auto& surface = upload_->surface();
  const int surfaceWidth = static_cast<int>(surface.Width / host::scale::TwipsPerPixel);
  const int surfaceHeight = static_cast<int>(surface.Height / host::scale::TwipsPerPixel);
  setFixedSize(surfaceWidth, surfaceHeight + kStatusHeight);

  strip_ = new QWidget(this);
  auto* strip = strip_;
  strip->setObjectName("statusStrip");
  strip->setGeometry(0, surfaceHeight, surfaceWidth, kStatusHeight);
  strip->setAutoFillBackground(true);
  auto* layout = new QHBoxLayout(strip);
  layout->setContentsMargins(6, 0, 2, 0);
  status_ = new QLabel(strip);
  status_->setObjectName("status");
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(status_, 1);
  closeButton_ = new QPushButton("Close", strip);
  closeButton_->setObjectName("close");
  closeButton_->hide();
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
  layout->addWidget(closeButton_);

  busyCursorDelay_.setSingleShot(true);
  busyCursorDelay_.setInterval(250);
  connect(&busyCursorDelay_, &QTimer::timeout, this, [this] {
    if (busy()) setCursor(Qt::BusyCursor);
  });

  // Notices come from the control's thread, in the middle of an upload.
  net::setNoticeHandler([this](const std::string& notice) {
    QMetaObject::invokeMethod(
        this, [this, text = QString::fromStdString(notice)] { showNotice(text); }, Qt::QueuedConnection);
  });

  applySnapshot(takeSnapshot(surface));
  post([](Upload& upload) { upload.Initialize(); });
  applySettings();
}

Window::~Window() {
  waitIdle(-1);
  thread_.reset();
  net::setNoticeHandler({});
}

void Window::startGallery() {
  std::string folder;
  runOnControl([&](Upload& upload) { folder = upload.FullPath(); });
  std::error_code ignored;
  if (!applied_.folderGiven || !std::filesystem::is_directory(folder, ignored)) {
    QString start;
    if (applied_.folderGiven) {
      setStatus(QString("The photo folder %1 does not exist.").arg(QString::fromStdString(folder)));
      start = QString::fromStdString(std::filesystem::path(folder).parent_path().string());
    }
    const QString chosen = chooseFolder(start);
    if (chosen.isEmpty()) {
      starting_ = false;
      close();
      return;
    }
    runOnControl([path = chosen.toStdString()](Upload& upload) { upload.FullPath(path); });
    describeJob();
  }
  // In the express mode showing the control sends every photo.
  bool express = false;
  runOnControl([&](Upload& upload) { express = text::upper(upload.KIVType()) == "EXPRESSPHOTOS"; });
  if (express && refusedForMissingSettings()) return;
  post([this, express](Upload& upload) {
    upload.Show();
    if (express) recordAsked(upload, false);
  });
}

// A decision of the network client the user should know of, such as a switch
// to passive FTP: in the status strip, and on standard error for the record.
void Window::showNotice(const QString& text) {
  std::fprintf(stderr, "kivphoto-desktop: %s\n", text.toUtf8().constData());
  QString sentence = text;
  if (!sentence.isEmpty()) sentence[0] = sentence[0].toUpper();
  sentence += ".";
  if (uploading_) sentence += " Cancel or Escape stops after the photo being sent.";
  setStatus(sentence);
}

QString Window::status() const { return status_->text(); }

void Window::setStatus(const QString& text) { status_->setText(text); }

int Window::exitStatus() const {
  if (!settingError_.empty()) return 2;
  if (commandFailed_) return 3;
  std::lock_guard lock(askedMutex_);
  for (const std::string& file : asked_) {
    if (sent_.count(file) == 0) return 1;
  }
  return 0;
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
  if (--pending_ == 0) {
    busyCursorDelay_.stop();
    unsetCursor();
    if (uploading_) setStatus(idleStatus_);
    uploading_ = false;
  }
  applySnapshot(shot);
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
  commandFailed_ = true;
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
  if (event->spontaneous() || !settingError_.empty()) return;
  if (shownOnce_) {
    post([](Upload& upload) { upload.Show(); });
    return;
  }
  shownOnce_ = true;
  starting_ = true;
  // After the window is on screen, so a folder chooser has it to belong to.
  QTimer::singleShot(0, this, [this] {
    startGallery();
    starting_ = false;
  });
}

void Window::closeEvent(QCloseEvent* event) {
  if (busy()) {
    if (uploading_) requestStop();
    closeWhenIdle_ = true;
    event->ignore();
    return;
  }
  event->accept();
}

void Window::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) {
    QWidget::keyPressEvent(event);
    return;
  }
  if (uploading_) requestStop();
  else if (!settingError_.empty()) close();
  else clicked("imgCancel", -1);
}

void Window::requestStop() {
  if (stopRequested_.exchange(true)) return;
  setStatus("Stopping after the photo being sent...");
}

// While an upload runs the gallery and the commands rest, greyed; Cancel
// stays, since it is the way out.
void Window::lookBusy() {
  if (!uploading_) return;
  for (auto& [key, view] : views_) {
    if (takesClicks(view->state().name)) view->widget()->setEnabled(false);
  }
}

bool Window::anyTicked() const {
  for (const auto& [key, view] : views_) {
    if (view->state().name != "chkSelect" || !view->state().visible) continue;
    if (const auto* box = qobject_cast<const QCheckBox*>(view->widget()); box && box->isChecked()) return true;
  }
  return false;
}

void Window::startUpload(bool onlyTicked) {
  uploading_ = true;
  stopRequested_ = false;
  setStatus("Uploading... Cancel or Escape stops after the photo being sent.");
  post([this, onlyTicked](Upload& upload) {
    recordAsked(upload, onlyTicked);
    performClick(upload, onlyTicked ? ClickAction::UploadSelected : ClickAction::UploadAll, -1);
  });
  lookBusy();
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
  if (!settingError_.empty()) {
    quietenForSettingError();
    strip_->raise();
  }
  lookBusy();
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
  if (!settingError_.empty()) return;
  const ClickAction action = clickActionFor(name);
  if (action == ClickAction::Cancel) {
    if (uploading_) requestStop();
    else post([](Upload& upload) { performClick(upload, ClickAction::Cancel, -1); });
    return;
  }
  // A click that arrives while an event runs is dropped, never queued.
  if (busy()) return;
  switch (action) {
    case ClickAction::ShowPhoto:
      post([index](Upload& upload) { performClick(upload, ClickAction::ShowPhoto, static_cast<std::int16_t>(index)); });
      break;
    case ClickAction::UploadAll:
      if (!refusedForMissingSettings()) startUpload(false);
      break;
    case ClickAction::UploadSelected:
      if (!anyTicked()) {
        setStatus(kTickFirst);
        return;
      }
      if (!refusedForMissingSettings()) startUpload(true);
      break;
    default: break;
  }
}

// Check boxes are Qt's own and report through ticked.
bool Window::clickable(const std::string& name) const { return clickActionFor(name) != ClickAction::None; }

void Window::ticked(const std::string& name, int index, int value) {
  if (name != "chkSelect" || uploading_) return;
  if (status_->text() == kTickFirst) setStatus(idleStatus_);
  post([index, value](Upload& upload) {
    upload.chkSelect[static_cast<std::int16_t>(index)].Value = static_cast<std::int16_t>(value);
  });
}

void Window::scrolled(const std::string& name, int value, bool settled) {
  if (name != "VScroll1" || uploading_) return;
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
