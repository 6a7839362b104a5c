// The engine's process-wide I/O channel: the one Channel that runs the chunk
// tasks of every file being uploaded or downloaded. It is created by the
// first post, with the I/O thread count in force at that moment (initially
// 2; the transfer paths store the configured count before each post), and
// keeps that many workers for the life of the process. shutdown() (also run
// when the engine library is unloaded) finishes the queued tasks and joins
// the workers; posts after it fail with Channel::kClosed.
//
// Thread safe: sync threads post concurrently; creation happens exactly once.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "Channel.h"

namespace mthread {

class IoChannel {
 public:
  static constexpr unsigned kDefaultThreadCount = 2;
  static constexpr unsigned kMaxThreadCount = 64;

  // The process-wide instance.
  static IoChannel& instance();

  IoChannel() = default;
  ~IoChannel() { shutdown(); }
  IoChannel(const IoChannel&) = delete;
  IoChannel& operator=(const IoChannel&) = delete;

  // The thread-count setting (clamped to 1..kMaxThreadCount). It only
  // matters until the first post creates the workers.
  void setThreadCount(unsigned count);
  unsigned threadCountSetting() const { return threadCount_.load(); }
  // Workers actually running: 0 before the first post.
  unsigned workerCount() const;

  // Channel::post on the I/O channel, creating it first when needed. The
  // result codes and the caller's duty on failure are Channel's.
  int post(OperationArena& arena, void* argument, Channel::RunFunction run);

  void shutdown();

 private:
  std::once_flag created_;  // the channel is made (or forbidden) exactly once
  std::atomic<unsigned> threadCount_{kDefaultThreadCount};
  std::atomic<bool> shutDown_{false};
  std::atomic<unsigned> workers_{0};  // running workers, readable at any time
  std::unique_ptr<Channel> channel_;  // written once under created_, then read-only
};

}  // namespace mthread
