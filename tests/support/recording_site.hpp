#pragma once

#include <platform/host/site.hpp>

#include <functional>
#include <string>
#include <vector>

namespace kiv::test {

// A container that remembers what the control asked of it. onRefresh runs at
// every repaint, so a test can see what the surface showed at that moment.
class RecordingSite : public host::Site {
 public:
  struct Message {
    std::string prompt;
    std::int16_t buttons;
    std::string title;
  };

  void Refresh() override {
    ++refreshes;
    if (onRefresh) onRefresh();
  }
  void PropertyChanged(std::string_view name) override { changed.emplace_back(name); }
  void RaiseEvent(std::string_view name) override { events.emplace_back(name); }
  std::int16_t MsgBox(std::string_view prompt, std::int16_t buttons, std::string_view title) override {
    messages.push_back({std::string(prompt), buttons, std::string(title)});
    return 1;
  }
  void PhotoKept(const std::string& path, std::string_view reason) override {
    kept.push_back(path + ": " + std::string(reason));
  }
  bool StopRequested() override {
    ++stopQueries;
    return stopAfterQueries >= 0 && stopQueries > stopAfterQueries;
  }

  int refreshes = 0;
  int stopQueries = 0;
  int stopAfterQueries = -1;  // answers yes once this many queries were answered no; -1 never
  std::vector<std::string> changed;
  std::vector<std::string> events;
  std::vector<Message> messages;
  std::vector<std::string> kept;  // "path: reason"
  std::function<void()> onRefresh;
};

}  // namespace kiv::test
