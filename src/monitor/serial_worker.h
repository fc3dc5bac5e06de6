// One thread that runs posted tasks one after the other, in the order they were posted. The monitor asks the print
// server only from here, so that a slow or hung server never stops the window.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace monitor {

class SerialWorker {
public:
  SerialWorker();
  ~SerialWorker(); // drops the tasks not yet started, waits for the running one
  SerialWorker(const SerialWorker &) = delete;
  SerialWorker &operator=(const SerialWorker &) = delete;

  void post(std::function<void()> task);
  // No task waits or runs.
  bool idle() const;
  // Waits up to ms milliseconds until idle(); true when it is.
  bool waitIdle(int ms) const;
  // Drops the waiting tasks and waits for the running one; later posts are ignored.
  void stop();

private:
  void run();
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

} // namespace monitor
