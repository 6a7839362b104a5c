#include "platform/sync_primitives.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void Event::set() {
  // Notify while holding the lock: a waiter released by this set may destroy
  // the event as soon as it returns (a transfer group's done event is freed
  // by its waiter), so nothing here may touch it after the unlock.
  std::lock_guard lock(mutex_);
  set_ = true;
  if (manual_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
}

void Event::reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::isSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

void Event::wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return set_; });
  if (!manual_) set_ = false;
}

bool Event::waitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return set_; })) return false;
  if (!manual_) set_ = false;
  return true;
}

int64_t currentThreadId() noexcept {
  // Asked for every log line: the kernel is asked once per thread. (A
  // process forked without exec would carry its parent's value; nothing
  // here forks without exec.)
  thread_local const int64_t id = static_cast<int64_t>(::syscall(SYS_gettid));
  return id;
}

}  // namespace platform
