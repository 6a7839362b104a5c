#include "SpeedMeter.h"

#include "platform/time.h"

namespace varnelo {

void SpeedMeter::addSample(int64_t seconds, int64_t bytes) {
  std::lock_guard lock(mutex_);
  samples_.push_back({seconds, bytes});
  while (!samples_.empty() && seconds - samples_.front().seconds > window_) {
    samples_.pop_front();
  }
}

uint64_t SpeedMeter::speed(int64_t nowSeconds) const {
  std::lock_guard lock(mutex_);
  if (samples_.size() < 2) return 0;
  int64_t sum = 0;
  int64_t newest = -1, oldest = -1;
  // Newest to oldest, never counting the oldest sample's bytes: they were
  // transferred before the span this meter can measure.
  for (size_t i = samples_.size() - 1; i >= 1; --i) {
    const auto& s = samples_[i];
    if (nowSeconds - s.seconds > window_) break;
    sum += s.bytes;
    if (newest < 0) newest = s.seconds;
    oldest = s.seconds;
  }
  if (newest < 0 || newest == oldest || sum <= 0) return 0;
  return static_cast<uint64_t>(sum) / static_cast<uint64_t>(newest - oldest);
}

void MeterSet::addSample(int64_t threadId, int64_t seconds, int64_t bytes) {
  std::lock_guard lock(mutex_);
  auto& meter = meters_[threadId];
  if (!meter) meter = std::make_unique<SpeedMeter>(window_);
  meter->addSample(seconds, bytes);
}

uint64_t MeterSet::speed(int64_t nowSeconds) const {
  std::lock_guard lock(mutex_);
  uint64_t total = 0;
  for (const auto& [id, meter] : meters_) total += meter->speed(nowSeconds);
  return total;
}

int64_t meterSecondsNow() {
  return static_cast<int64_t>(platform::currentFileTime() / 10000000ULL);
}

}  // namespace varnelo
