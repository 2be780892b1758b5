#pragma once

#include <control/upload.hpp>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

namespace kiv::cli {

// The container of the headless host. It draws the surface as text: a status
// line is printed when its caption changed at a repaint, and on a terminal the
// progress line is redrawn in place. A message box goes to standard error and
// counts as dismissed at once.
class TerminalSite final : public host::Site {
 public:
  TerminalSite(std::ostream& out, std::ostream& err, bool terminal, bool quiet);

  void watch(const Upload& upload) { upload_ = &upload; }

  void Refresh() override;
  void PropertyChanged(std::string_view) override {}
  void RaiseEvent(std::string_view name) override;
  std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override;
  // Nothing is drawn, so nothing is decoded.
  host::PictureRef LoadPicture(const std::string&) override { return nullptr; }

  // Ends a progress line left open on the terminal.
  void finishLine();

  bool closed() const { return closed_; }
  int messageBoxes() const { return messageBoxes_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  bool quiet_;
  const Upload* upload_ = nullptr;
  std::array<std::string, 4> shown_;
  bool lineOpen_ = false;
  bool closed_ = false;
  int messageBoxes_ = 0;
};

}  // namespace kiv::cli
