// A manual-reset event within one process: Set releases every waiter until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kavo {

class ManualResetEvent {
  public:
    void Set() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = false;
    }
    bool IsSet() {
        std::lock_guard<std::mutex> lock(mutex_);
        return set_;
    }
    // True when the event was set within `timeout`.
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return set_; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

}  // namespace kavo
