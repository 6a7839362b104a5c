// The scheduler thread: DailyTasks at start and then every 30 minutes until
// stop(), which ends the wait at once and joins (a report in progress ends
// first; it is bounded by the service client's 30 s).
#pragma once

#include <chrono>
#include <thread>

#include "DailyTasks.h"
#include "platform/sync_primitives.h"

namespace varnelo::desktop {

class SchedulerThread {
 public:
  explicit SchedulerThread(DailyTasks& tasks,
                           std::chrono::milliseconds period = std::chrono::minutes(30))
      : tasks_(tasks), period_(period) {}
  ~SchedulerThread() { stop(); }
  SchedulerThread(const SchedulerThread&) = delete;
  SchedulerThread& operator=(const SchedulerThread&) = delete;

  void start();
  void stop();

 private:
  DailyTasks& tasks_;
  const std::chrono::milliseconds period_;
  platform::Event stop_{platform::Event::Reset::Manual};
  std::thread thread_;
};

}  // namespace varnelo::desktop
