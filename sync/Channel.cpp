#include "Channel.h"

#include <exception>

#include "Log.h"

namespace mthread {

Channel::Channel(unsigned threadCount) : threadCount_(threadCount == 0 ? 1 : threadCount) {
  workers_.reserve(threadCount_);
  for (unsigned i = 0; i < threadCount_; ++i) workers_.emplace_back([this] { workerLoop(); });
}

int Channel::post(OperationArena& arena, void* argument, RunFunction run) {
  auto* item = arena.create<WorkItem>(WorkItem{argument, run});
  if (item == nullptr) {
    varnelo::log_write(varnelo::kLogError, varnelo::kModuleSync,
                       "no memory for a work item, task not run");
    log_location();
    return kNoWorkItem;
  }
  if (!queue_.post(item)) {
    varnelo::log_write(varnelo::kLogWarning, varnelo::kModuleSync,
                       "work item posted after the channel was shut down, task not run");
    return kClosed;
  }
  return kPosted;
}

void Channel::shutdown() {
  std::lock_guard<std::mutex> lock(joinMutex_);
  queue_.close();
  for (auto& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

void Channel::workerLoop() {
  WorkItem* item = nullptr;
  while (queue_.get(item)) {
    if (item == nullptr || item->run == nullptr) continue;
    // A task is expected to handle its own failures; one that throws anyway
    // must not take the worker (and the process) down with it.
    try {
      item->run(item->argument);
    } catch (const std::exception& e) {
      varnelo::log_write(varnelo::kLogError, varnelo::kModuleSync, "task failed: %s", e.what());
      log_location();
    } catch (...) {
      varnelo::log_write(varnelo::kLogError, varnelo::kModuleSync, "task failed");
      log_location();
    }
  }
}

}  // namespace mthread
