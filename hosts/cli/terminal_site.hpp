#pragma once

#include <control/upload.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kiv::cli {

// The container of the headless host. It draws the surface as text: a status
// line is printed when its caption changed at a repaint, and on a terminal the
// progress line is redrawn in place. A message box goes to standard error and
// counts as dismissed at once. A photo sent at full size because its reduction
// failed is said on standard error, since its caption is soon overwritten.
class TerminalSite final : public host::Site {
 public:
  TerminalSite(std::ostream& out, std::ostream& err, bool terminal, bool quiet);

  void watch(const Upload& upload) { upload_ = &upload; }
  // The run stops after the photo in flight once flag is set (by a signal, or
  // on Windows by the console's control handler, which runs on a thread of its own).
  void stopWhen(const std::atomic<bool>& flag) { stopFlag_ = &flag; }

  void Refresh() override;
  void PropertyChanged(std::string_view) override {}
  void RaiseEvent(std::string_view name) override;
  std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override;
  // Nothing is drawn, so nothing is decoded.
  host::PictureRef LoadPicture(const std::string&, PictureDecoder) override { return nullptr; }
  bool StopRequested() override;
  // Said on standard error at once, and remembered for the summary.
  void PhotoKept(const std::string& path, std::string_view reason) override;
  void PhotoSent(const std::string& path) override { sent_.insert(path); }

  // Ends a progress line left open on the terminal.
  void finishLine();
  // Says on standard error what the control's network client decided for
  // itself, e.g. a switch to passive FTP.
  void notice(const std::string& text);

  bool closed() const { return closed_; }
  bool stopped() const { return stopped_; }
  int messageBoxes() const { return messageBoxes_; }
  // Photos sent at full size, as listed by the control.
  const std::vector<std::string>& unreduced() const { return unreduced_; }
  // Why the control kept a photo, by path, when it said.
  const std::map<std::string, std::string>& kept() const { return kept_; }
  // The photos the control sent and deleted.
  const std::set<std::string>& sent() const { return sent_; }

 private:
  void noteUnreduced(const std::string& progress);

  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  bool quiet_;
  const Upload* upload_ = nullptr;
  const std::atomic<bool>* stopFlag_ = nullptr;
  std::array<std::string, 4> shown_;
  bool lineOpen_ = false;
  bool closed_ = false;
  bool stopped_ = false;
  bool resizeFailed_ = false;
  int messageBoxes_ = 0;
  std::vector<std::string> unreduced_;
  std::map<std::string, std::string> kept_;
  std::set<std::string> sent_;
};

// The photo's name inside the folder, as the user knows it.
std::string shownName(const std::string& file, const std::string& folder);

}  // namespace kiv::cli
