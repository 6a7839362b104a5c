#include "SchedulerThread.h"

namespace varnelo::desktop {

void SchedulerThread::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    tasks_.atStart();
    while (!stop_.waitFor(period_)) tasks_.tick();
  });
}

void SchedulerThread::stop() {
  stop_.set();
  if (thread_.joinable()) thread_.join();
}

}  // namespace varnelo::desktop
