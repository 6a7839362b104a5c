#include "IoChannel.h"

#include <algorithm>

#include "Log.h"

namespace mthread {

IoChannel& IoChannel::instance() {
  // Destroyed when the library is unloaded (or the process exits), which
  // shuts the workers down and joins them.
  static IoChannel channel;
  return channel;
}

void IoChannel::setThreadCount(unsigned count) {
  threadCount_.store(std::clamp(count, 1u, kMaxThreadCount));
}

unsigned IoChannel::workerCount() const {
  return workers_.load();
}

int IoChannel::post(OperationArena& arena, void* argument, Channel::RunFunction run) {
  std::call_once(created_, [this] {
    if (shutDown_.load()) return;
    const unsigned threads = threadCount_.load();
    channel_ = std::make_unique<Channel>(threads);
    workers_.store(channel_->threadCount());
    varnelo::log_write(varnelo::kLogInfo, varnelo::kModuleSync,
                       "I/O channel started with %u threads", threads);
  });
  if (!channel_) {
    varnelo::log_write(varnelo::kLogWarning, varnelo::kModuleSync,
                       "work item posted after the I/O channel was shut down, task not run");
    return Channel::kClosed;
  }
  return channel_->post(arena, argument, run);
}

void IoChannel::shutdown() {
  shutDown_.store(true);
  // Waits for a creation in progress, or forbids a later one.
  std::call_once(created_, [] {});
  if (channel_) channel_->shutdown();
  workers_.store(0);
}

}  // namespace mthread
