// Event: a flag threads can wait on, set and reset; manual reset (stays set
// until reset) or auto reset (one waiter consumes it), with timed waits.
// All operations are thread safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

class Event {
 public:
  enum class Reset { Manual, Auto };
  explicit Event(Reset reset = Reset::Manual, bool initiallySet = false)
      : manual_(reset == Reset::Manual), set_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet() const;
  // Waits until set; an auto-reset event is consumed by the waiter it wakes.
  void wait();
  // False when the timeout passed before the event was set.
  bool waitFor(std::chrono::milliseconds timeout);

 private:
  const bool manual_;
  mutable std::mutex mutex_;  // guards set_
  std::condition_variable cv_;
  bool set_;
};

// Identifier of the calling thread as the kernel numbers it (for log lines).
int64_t currentThreadId() noexcept;

}  // namespace platform
