#pragma once

// The desktop container of the Upload control: a window that draws the
// control's surface and delivers its events, with a status strip of its own
// underneath.
//
// The control lives on its own thread (ControlThread) and handles one event at
// a time there; the window's thread only paints and reads input. At a repaint
// the control's thread takes a snapshot of the surface and waits until the
// window has drawn it; a message box is shown by the window, modally, while the
// control's thread waits for the answer. While an event runs, the gallery and
// the commands take no clicks, so nothing clicked meanwhile runs afterwards;
// during an upload, Cancel, Escape and closing the window stop it after the
// photo in flight. CloseApp closes the window once the event that raised it
// has returned. The property file is written only when --save asks for it.

#include "control_views.hpp"
#include "run_record.hpp"
#include "settings.hpp"
#include "snapshot.hpp"

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <set>
#include <vector>

class QLabel;
class QPushButton;

namespace kiv {
class Upload;
}  // namespace kiv

namespace kiv::desktop {

inline constexpr const char* kTitle = "kivPhotoUpload";
// The status strip under the control's surface.
inline constexpr int kStatusHeight = 24;

class ControlThread;

class Window final : public QWidget, private ViewEvents {
 public:
  // Creates the control and delivers Initialize and the settings (property
  // file, environment, command line). Show follows when the window is shown;
  // with a damaged setting it never does, and the window offers only closing.
  explicit Window(app::Options options, QWidget* parent = nullptr);
  ~Window() override;

  // True while control events are queued or running, or the gallery is about to start.
  bool busy() const { return pending_ > 0 || starting_; }
  // True from an upload command's click until it has returned.
  bool uploading() const { return uploading_; }
  // Processes window events until no control event is left; false on timeout.
  bool waitIdle(int timeoutMs = 60000);
  // Runs code on the control's thread after the queued events and waits for it,
  // painting meanwhile; rethrows what it throws.
  void runOnControl(const std::function<void(Upload&)>& code);

  // The widget drawing a child control: "Label1", "Image2[3]".
  QWidget* view(const std::string& key) const;

  // Shows a message box and answers the button pressed (1 OK). Tests replace it.
  std::function<int(const QString& prompt, int buttons, const QString& title)> messageBox;
  // Asks for the photo folder; an empty answer closes the window. Tests replace it.
  std::function<QString(const QString& start)> chooseFolder;
  // Errors the control raised to the container, as shown to the user.
  std::vector<std::string> errors() const;
  // The window's own status strip.
  QString status() const;
  // As kivphoto's: 0 every photo asked for was sent, 1 some is still in the
  // folder, 2 a setting is wrong, 3 an error ended a command.
  int exitStatus() const;
  app::RunRecord runRecord() const;
  // Once the window has closed, after an upload: the summary line on standard
  // output and the last run's log.
  void reportRun();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  class Site;

  void applySettings();
  void showSettingError(const std::string& text);
  void startGallery();
  void describeJob();
  void startUpload(bool onlyTicked);
  void recordAsked(Upload& upload, bool onlyTicked);
  bool refusedForMissingSettings();
  void quietenForSettingError();
  void requestStop();
  void setStatus(const QString& text);
  void showNotice(const QString& text);
  void lookBusy();
  bool anyTicked() const;
  void post(std::function<void(Upload&)> event);
  void finished(SurfaceSnapshot shot, bool closeApp);
  void applySnapshot(const SurfaceSnapshot& shot);
  void updateTabOrder();
  void reportError(const std::string& text);
  int showMessage(const QString& prompt, int buttons, const QString& title);

  // ViewEvents
  void clicked(const std::string& name, int index) override;
  void ticked(const std::string& name, int index, int value) override;
  void scrolled(const std::string& name, int value, bool settled) override;
  QCursor cursorFor(int mousePointer) const override;
  bool clickable(const std::string& name) const override;

  app::Options options_;
  app::AppliedSettings applied_;
  std::string settingError_;
  std::unique_ptr<Site> site_;
  std::unique_ptr<Upload> upload_;
  std::unique_ptr<ControlThread> thread_;  // declared last: ends before the control goes

  std::atomic<int> pending_{0};
  std::atomic<bool> closeApp_{false};
  std::atomic<bool> stopRequested_{false};
  bool uploading_ = false;
  bool commandFailed_ = false;
  mutable std::mutex askedMutex_;
  std::vector<std::string> asked_;  // photos an upload command was asked to send
  std::set<std::string> sent_;      // photos the control reported sent and deleted
  std::vector<std::string> listed_;
  std::map<std::string, std::string> reasons_;  // why the control kept a photo
  std::vector<std::string> messages_;           // what its message boxes said
  bool ranUpload_ = false;
  bool closeWhenIdle_ = false;
  bool shownOnce_ = false;
  bool starting_ = false;
  QTimer busyCursorDelay_;
  QWidget* strip_ = nullptr;
  QLabel* status_ = nullptr;
  QString idleStatus_;  // what the window works with, shown while nothing else is to say
  QPushButton* closeButton_ = nullptr;

  SurfaceSnapshot shown_;
  std::map<std::string, ControlView*> views_;
  mutable std::mutex errorsMutex_;
  std::vector<std::string> errors_;
};

}  // namespace kiv::desktop
