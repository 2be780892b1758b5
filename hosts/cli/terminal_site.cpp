#include "terminal_site.hpp"

namespace kiv::cli {

TerminalSite::TerminalSite(std::ostream& out, std::ostream& err, bool terminal, bool quiet)
    : out_(out), err_(err), terminal_(terminal), quiet_(quiet) {}

void TerminalSite::Refresh() {
  if (!upload_ || quiet_) return;
  const std::array<const host::Label*, 4> labels = {&upload_->Label1, &upload_->Label2, &upload_->Label3,
                                                    &upload_->Label5};
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const std::string text = labels[i]->Visible ? labels[i]->Caption : std::string();
    if (text == shown_[i]) continue;
    shown_[i] = text;
    if (text.empty()) continue;
    const bool progress = labels[i] == &upload_->Label2;
    if (progress && terminal_) {
      out_ << '\r' << text << "\x1b[K";
      lineOpen_ = true;
    } else {
      finishLine();
      out_ << text << '\n';
    }
  }
  out_.flush();
}

void TerminalSite::RaiseEvent(std::string_view name) {
  if (name == "CloseApp") closed_ = true;
}

std::int16_t TerminalSite::MsgBox(std::string_view prompt, std::int16_t, std::string_view title) {
  ++messageBoxes_;
  finishLine();
  out_.flush();
  err_ << "[" << title << "] " << prompt << std::endl;
  return 1;
}

void TerminalSite::finishLine() {
  if (!lineOpen_) return;
  out_ << '\n';
  lineOpen_ = false;
}

}  // namespace kiv::cli
