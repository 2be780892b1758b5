#pragma once

// The thread the control lives on. The control handles one event at a time, so
// events run here in the order they were posted while the window's thread stays
// free to paint. run() takes the task to run and a callback delivered afterwards.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kiv::desktop {

class ControlThread {
 public:
  ControlThread();
  // Runs the tasks already posted, then ends the thread.
  ~ControlThread();
  ControlThread(const ControlThread&) = delete;
  ControlThread& operator=(const ControlThread&) = delete;

  void post(std::function<void()> task);
  bool onThisThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kiv::desktop
