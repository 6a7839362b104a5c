// Transfer speed measurement: a SpeedMeter keeps one worker thread's byte
// samples of the last ten seconds; a MeterSet holds one meter per thread for
// one direction (upload or download). Workers add samples from the I/O
// threads while the application reads speeds from its own thread; every
// operation is thread safe. Lock order: the set's lock, then a meter's.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace varnelo {

class SpeedMeter {
 public:
  explicit SpeedMeter(int64_t windowSeconds = 10) : window_(windowSeconds) {}

  // Appends (seconds, bytes) and drops samples older than the window.
  void addSample(int64_t seconds, int64_t bytes);
  // Bytes per second at `nowSeconds`; 0 with fewer than two samples or a
  // zero time span. The oldest sample only marks where the span starts.
  uint64_t speed(int64_t nowSeconds) const;

 private:
  struct Sample {
    int64_t seconds;
    int64_t bytes;
  };
  const int64_t window_;
  mutable std::mutex mutex_;  // guards samples_
  std::deque<Sample> samples_;
};

class MeterSet {
 public:
  explicit MeterSet(int64_t windowSeconds = 10) : window_(windowSeconds) {}

  // Adds a sample to `threadId`'s meter, creating it on first use.
  void addSample(int64_t threadId, int64_t seconds, int64_t bytes);
  // Sum of every thread's speed at `nowSeconds`.
  uint64_t speed(int64_t nowSeconds) const;

 private:
  const int64_t window_;
  mutable std::mutex mutex_;  // guards meters_ (not the meters' samples)
  std::map<int64_t, std::unique_ptr<SpeedMeter>> meters_;
};

// Seconds on the meters' clock (wall time in whole seconds).
int64_t meterSecondsNow();

}  // namespace varnelo
