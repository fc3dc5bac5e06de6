#include "monitor/serial_worker.h"

#include <chrono>

namespace monitor {

SerialWorker::SerialWorker() : thread_([this] { run(); }) {}

SerialWorker::~SerialWorker() { stop(); }

void SerialWorker::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_)
      return;
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

bool SerialWorker::idle() const {
  std::lock_guard lock(mutex_);
  return tasks_.empty() && !running_;
}

bool SerialWorker::waitIdle(int ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return tasks_.empty() && !running_; });
}

void SerialWorker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    tasks_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

void SerialWorker::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    if (stopping_)
      return;
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    running_ = true;
    lock.unlock();
    task();
    lock.lock();
    running_ = false;
    changed_.notify_all();
  }
}

} // namespace monitor
