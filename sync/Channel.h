// mthread::Channel: a pool of worker threads fed through a CompletionQueue.
// Chunk transfers of a file are posted as work items (argument + run
// function) and run in parallel, first in first out. The engine's one
// process-wide instance is the I/O channel (IoChannel.h); a Channel can also
// stand alone (tests, tools).
//
// Thread safe: any thread may post; shutdown() may be called from any thread
// but a worker's own task. A task's run function owns all its error
// handling: nothing it does reaches the worker loop.
#pragma once

#include <mutex>
#include <thread>
#include <vector>

#include "OperationArena.h"
#include "platform/queue.h"

namespace mthread {

class Channel {
 public:
  // Base of the things handed to a channel (the transfer callbacks, the
  // sync core's idle task).
  class Task {
   public:
    virtual ~Task() = default;
  };

  using RunFunction = void (*)(void* argument);

  // What is posted: the task and the plain function that runs it. Carved
  // from the poster's arena, which outlives the wait for its tasks.
  struct WorkItem {
    void* argument;
    RunFunction run;
  };

  // post() results. On anything but kPosted the task has NOT run and never
  // will: the caller finishes it itself (counts it as failed and signals its
  // group), or its waiter would wait forever.
  static constexpr int kPosted = 200;
  static constexpr int kNoWorkItem = -4;  // the arena could not hold the work item
  static constexpr int kClosed = -103;    // the channel has been shut down

  // Starts `threadCount` workers (at least one).
  explicit Channel(unsigned threadCount);
  ~Channel() { shutdown(); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Carves a work item for (argument, run) from `arena` and queues it.
  int post(OperationArena& arena, void* argument, RunFunction run);

  // Refuses further posts, lets the workers finish every item already
  // queued (so each posted task still runs and signals its group), then
  // joins them. Idempotent.
  void shutdown();

  unsigned threadCount() const noexcept { return threadCount_; }
  size_t queuedCount() const { return queue_.size(); }

 private:
  void workerLoop();

  const unsigned threadCount_;
  platform::CompletionQueue<WorkItem*> queue_;
  std::mutex joinMutex_;  // serialises shutdown() so workers are joined once
  std::vector<std::thread> workers_;
};

// Run function for a task type with a `void run()` member:
//   channel.post(arena, task, &mthread::runTask<DownloadChunkTask>);
template <class T>
void runTask(void* argument) {
  static_cast<T*>(argument)->run();
}

}  // namespace mthread
