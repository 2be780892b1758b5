#include "terminal_site.hpp"

#include "utf8_path.hpp"

#include <cstdio>
#include <filesystem>

namespace kiv::cli {
namespace {

constexpr const char* kResizeFailed = "Resize Failed. Uploading Image";

}  // namespace

std::string shownName(const std::string& file, const std::string& folder) {
  const std::filesystem::path relative =
      app::pathFromUtf8(file).lexically_relative(app::pathFromUtf8(folder));
  if (relative.empty() || *relative.begin() == "..") return file;
  return app::utf8Of(relative);
}

TerminalSite::TerminalSite(std::ostream& out, std::ostream& err, bool terminal, bool quiet)
    : out_(out), err_(err), terminal_(terminal), quiet_(quiet) {}

void TerminalSite::Refresh() {
  if (!upload_) return;
  const std::array<const host::Label*, 4> labels = {&upload_->Label1, &upload_->Label2, &upload_->Label3,
                                                    &upload_->Label5};
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const std::string text = labels[i]->Visible ? labels[i]->Caption : std::string();
    if (text == shown_[i]) continue;
    shown_[i] = text;
    const bool progress = labels[i] == &upload_->Label2;
    if (progress) noteUnreduced(text);
    if (text.empty() || quiet_) continue;
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

// A photo stored after a failed reduction shows the failure caption at the
// repaint that follows the put, and its position in the next one.
void TerminalSite::noteUnreduced(const std::string& progress) {
  if (progress == kResizeFailed) {
    resizeFailed_ = true;
    return;
  }
  long n = 0, m = 0;
  if (!resizeFailed_ || std::sscanf(progress.c_str(), "Uploading file %ld of %ld.", &n, &m) != 2) return;
  resizeFailed_ = false;
  const host::Variant::Array& files = upload_->sFiles.array();
  if (n < 1 || static_cast<std::size_t>(n) > files.size()) return;
  const std::string& file = files[static_cast<std::size_t>(n - 1)];
  unreduced_.push_back(file);
  finishLine();
  out_.flush();
  err_ << "kivphoto: " << shownName(file, upload_->FullPath())
       << " could not be reduced and was sent at its full size" << std::endl;
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

bool TerminalSite::StopRequested() {
  if (stopFlag_ && stopFlag_->load()) stopped_ = true;
  return stopped_;
}

void TerminalSite::notice(const std::string& text) {
  finishLine();
  out_.flush();
  err_ << "kivphoto: " << text << std::endl;
}

void TerminalSite::PhotoKept(const std::string& path, std::string_view reason) {
  const std::string name = upload_ ? shownName(path, upload_->FullPath()) : path;
  kept_[path] = std::string(reason);
  notice(name + ": " + std::string(reason));
}

void TerminalSite::finishLine() {
  if (!lineOpen_) return;
  out_ << '\n';
  lineOpen_ = false;
}

}  // namespace kiv::cli
