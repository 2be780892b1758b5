#pragma once

// The desktop container of the Upload control: a window that draws the
// control's surface and delivers its events.
//
// The control lives on its own thread (ControlThread) and handles one event at
// a time there; the window's thread only paints and reads input. At a repaint
// the control's thread takes a snapshot of the surface and waits until the
// window has drawn it; a message box is shown by the window, modally, while the
// control's thread waits for the answer. Input that arrives while an event runs
// waits its turn. CloseApp closes the window once the event that raised it has
// returned; on close, the properties go back to the property file if one is used.

#include "control_views.hpp"
#include "options.hpp"
#include "snapshot.hpp"

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {
class Upload;
namespace host {
class FilePropertyBag;
}
}  // namespace kiv

namespace kiv::desktop {

class ControlThread;

class Window final : public QWidget, private ViewEvents {
 public:
  // Creates the control and delivers Initialize, then ReadProperties from the
  // property file (InitProperties when there is none) and the command-line
  // properties. Show follows when the window is shown.
  explicit Window(Options options, QWidget* parent = nullptr);
  ~Window() override;

  // True while control events are queued or running.
  bool busy() const { return pending_ > 0; }
  // Processes window events until no control event is left; false on timeout.
  bool waitIdle(int timeoutMs = 60000);
  // Runs code on the control's thread after the queued events and waits for it,
  // painting meanwhile; rethrows what it throws.
  void runOnControl(const std::function<void(Upload&)>& code);

  // The widget drawing a child control: "Label1", "Image2[3]".
  QWidget* view(const std::string& key) const;

  // Shows a message box and answers the button pressed (1 OK). Tests replace it.
  std::function<int(const QString& prompt, int buttons, const QString& title)> messageBox;
  // Errors the control raised to the container, as shown to the user.
  std::vector<std::string> errors() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  class Site;

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

  Options options_;
  std::unique_ptr<host::FilePropertyBag> bag_;
  bool saveOnClose_ = false;
  std::unique_ptr<Site> site_;
  std::unique_ptr<Upload> upload_;
  std::unique_ptr<ControlThread> thread_;  // declared last: ends before the control goes

  std::atomic<int> pending_{0};
  std::atomic<bool> closeApp_{false};
  bool closeWhenIdle_ = false;
  bool closing_ = false;
  QTimer busyCursorDelay_;

  SurfaceSnapshot shown_;
  std::map<std::string, ControlView*> views_;
  mutable std::mutex errorsMutex_;
  std::vector<std::string> errors_;
};

}  // namespace kiv::desktop
