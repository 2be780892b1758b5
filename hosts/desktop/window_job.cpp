// What the window is set up to do and what it did: the settings and their
// errors, the job in the title, the photos a run asks for, and the record of
// the run once the window has closed.
#include "window.hpp"

#include "control_thread.hpp"

#include <control/upload.hpp>
#include <platform/host/error.hpp>
#include <platform/host/text.hpp>

#include <QLabel>
#include <QLayout>
#include <QPushButton>

#include <algorithm>
#include <cstdio>

namespace kiv::desktop {

// Settings are read before the window shows anything: with a damaged one
// nothing is shown or sent, and the property file stays as it is.
void Window::applySettings() {
  try {
    runOnControl([this](Upload& upload) {
      applied_ = app::applySettings(upload, options_);
      if (options_.save) app::saveProperties(upload, *options_.propertiesFile);
    });
  } catch (const app::SettingError& error) {
    showSettingError(error.what());
    return;
  } catch (const Error& error) {
    showSettingError(error.what());
    return;
  }
  for (const std::string& warning : applied_.warnings) {
    std::fprintf(stderr, "kivphoto-desktop: warning: %s\n", warning.c_str());
  }
  if (applied_.defaultPassword) {
    std::fprintf(stderr, "kivphoto-desktop: warning: %s\n", app::DefaultPasswordWarning);
    setStatus("No FTP password is set: the built-in default password will be used.");
  }
  describeJob();
}

void Window::showSettingError(const std::string& text) {
  settingError_ = text;
  std::fprintf(stderr, "kivphoto-desktop: %s\n", text.c_str());
  quietenForSettingError();
  setStatus(QString::fromStdString(text));
  status_->setToolTip(QString::fromStdString(text));
  closeButton_->show();
  closeButton_->setFocus();
  // The whole error, wrapped: the strip grows upwards over the surface, which
  // cannot be used now anyway.
  status_->setWordWrap(true);
  const int needed = strip_->layout()->hasHeightForWidth() ? strip_->layout()->heightForWidth(width())
                                                           : strip_->sizeHint().height();
  const int height = std::max(kStatusHeight, needed + 6);
  strip_->setGeometry(0, this->height() - height, width(), height);
  strip_->raise();
}

// Nothing can be used, and the control's own reminder to dock the camera would
// point the user the wrong way.
void Window::quietenForSettingError() {
  for (auto& [key, view] : views_) view->widget()->setEnabled(false);
  if (auto reminder = views_.find("Label5"); reminder != views_.end()) reminder->second->widget()->hide();
}

// The title says which vehicle, folder and server the window works with.
void Window::describeJob() {
  QString vehicle, folder, server;
  runOnControl([&](Upload& upload) {
    vehicle = QString::fromStdString(upload.VehicleID());
    folder = QString::fromStdString(upload.FullPath());
    server = QString::fromStdString(upload.KIVFTP());
  });
  setWindowTitle(QString("%1 - vehicle %2 - %3 - %4").arg(kTitle, vehicle, folder, server));
  idleStatus_ = QString("Vehicle %1, photos from %2, to %3").arg(vehicle, folder, server);
  if (!applied_.defaultPassword) setStatus(idleStatus_);
}

// The control's defaults name another dealer's car and servers: the photos
// may be looked at, but none is sent until the user said where they go.
bool Window::refusedForMissingSettings() {
  if (applied_.missing.empty()) return false;
  showSettingError(app::missingSettingsText(applied_));
  return true;
}

// On the control's thread, before the photos go: which the run asks for (the
// ticked ones, or all) and which the gallery lists.
void Window::recordAsked(Upload& upload, bool onlyTicked) {
  std::lock_guard lock(askedMutex_);
  ranUpload_ = true;
  const host::Variant::Array& files = upload.sFiles.array();
  for (std::size_t i = 0; i < files.size() && !files[i].empty(); ++i) {
    const auto index = static_cast<std::int16_t>(i);
    const bool ticked = upload.chkSelect.Exists(index) && upload.chkSelect[index].Value == 1;
    if (!onlyTicked || ticked) asked_.push_back(files[i]);
    if (std::find(listed_.begin(), listed_.end(), files[i]) == listed_.end()) listed_.push_back(files[i]);
  }
}

app::RunRecord Window::runRecord() const {
  std::lock_guard lock(askedMutex_);
  app::RunRecord run;
  run.asked = asked_;
  run.listed = listed_;
  run.sent = sent_;
  run.reasons = reasons_;
  run.messages = messages_;
  run.stopped = stopRequested_;
  return run;
}

// After the window has closed: the summary kivphoto would print, and the last
// run's log for a support call.
void Window::reportRun() {
  {
    std::lock_guard lock(askedMutex_);
    if (!ranUpload_) return;
  }
  const app::RunRecord run = runRecord();
  std::printf("%s\n", run.summary().c_str());
  std::fflush(stdout);
  std::vector<std::string> job;
  runOnControl([&](Upload& upload) {
    job.push_back("Vehicle " + upload.VehicleID() + ", company " + upload.CompanyID());
    job.push_back("Photos from " + upload.FullPath());
    job.push_back("Web server " + app::withoutCredentials(upload.KIVWEB()) + ", FTP server " + upload.KIVFTP() +
                  " as " + upload.KIVUser());
  });
  if (const auto trouble = app::writeLastRunLog(run, "kivphoto-desktop", job))
    std::fprintf(stderr, "kivphoto-desktop: %s\n", trouble->c_str());
}

}  // namespace kiv::desktop
