#include "Channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>

#include "IoChannel.h"
#include "OperationArena.h"
#include "platform/sync_primitives.h"

using mthread::Channel;
using mthread::IoChannel;
using mthread::OperationArena;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 10s;

// Waits for `done` with a deadline instead of sleeping.
template <class Pred>
bool eventually(Pred done) {
  const auto until = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::yield();
  }
  return true;
}

// The shape of one file's transfer: tasks count themselves out, the last one
// signals the waiter, and a task that finds the sync stopping ends at once.
struct Group {
  std::atomic<int> pending{0};
  std::atomic<int> failures{0};
  std::atomic<bool> stopping{false};
  platform::Event done{platform::Event::Reset::Manual};
  void finish(bool ok) {
    if (!ok) ++failures;
    if (--pending == 0) done.set();
  }
};

// Counts the worker threads that have ended: a thread's thread_local
// objects are destroyed as it exits, before a join of it returns.
std::atomic<int> workersEnded{0};
struct WorkerExitProbe {
  bool armed = false;
  ~WorkerExitProbe() {
    if (armed) ++workersEnded;
  }
};
thread_local WorkerExitProbe exitProbe;
std::mutex threadsMutex;  // guards threadsThatRan
std::set<std::thread::id> threadsThatRan;

struct CountingTask : Channel::Task {
  Group* group = nullptr;
  std::atomic<int>* ran = nullptr;
  void run() {
    if (!exitProbe.armed) {
      exitProbe.armed = true;
      std::lock_guard<std::mutex> lock(threadsMutex);
      threadsThatRan.insert(std::this_thread::get_id());
    }
    if (group->stopping) {
      group->finish(false);  // stopped: no work, still counted out
      return;
    }
    ++*ran;
    group->finish(true);
  }
};

// A task that holds its worker until released, recording which thread ran it.
struct Gate {
  std::mutex mutex;  // guards open and threads
  std::condition_variable cv;
  bool open = false;
  std::set<std::thread::id> threads;
  std::atomic<int> started{0};
};
struct BlockingTask : Channel::Task {
  Gate* gate = nullptr;
  void run() {
    std::unique_lock<std::mutex> lock(gate->mutex);
    gate->threads.insert(std::this_thread::get_id());
    ++gate->started;
    gate->cv.wait(lock, [this] { return gate->open; });
  }
};

void release(Gate& gate) {
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
  }
  gate.cv.notify_all();
}

}  // namespace

TEST(Channel, TwoWorkersRunTwoTasksAtOnceWhileAThirdWaits) {
  Channel channel(2);
  OperationArena arena;
  Gate gate;
  BlockingTask tasks[3];
  for (auto& t : tasks) {
    t.gate = &gate;
    ASSERT_EQ(channel.post(arena, &t, &mthread::runTask<BlockingTask>), Channel::kPosted);
  }
  ASSERT_TRUE(eventually([&] { return gate.started == 2; }));
  EXPECT_EQ(channel.queuedCount(), 1u);  // both workers are busy; the third stays queued
  EXPECT_EQ(gate.started, 2);
  release(gate);
  ASSERT_TRUE(eventually([&] { return gate.started == 3; }));
  channel.shutdown();
  std::lock_guard<std::mutex> lock(gate.mutex);
  EXPECT_EQ(gate.threads.size(), 2u);
}

TEST(Channel, ShutdownRunsEverythingQueuedJoinsWorkersAndRefusesLatePosts) {
  auto channel = std::make_unique<Channel>(3);
  OperationArena arena;
  Group group;
  std::atomic<int> ran{0};
  constexpr int kTasks = 500;
  std::vector<CountingTask> tasks(kTasks);
  group.pending = kTasks;
  {
    std::lock_guard<std::mutex> lock(threadsMutex);
    threadsThatRan.clear();  // workers of earlier channels have all ended
  }
  const int endedBefore = workersEnded;
  // Posts race with the shutdown: each task either runs, or its poster is
  // told so and finishes it itself. Either way the group is signalled.
  std::thread poster([&] {
    for (auto& t : tasks) {
      t.group = &group;
      t.ran = &ran;
      if (channel->post(arena, &t, &mthread::runTask<CountingTask>) != Channel::kPosted) {
        group.finish(false);
      }
    }
  });
  ASSERT_TRUE(eventually([&] { return ran > 0; }));
  channel->shutdown();
  {
    // Each worker that ran a task has ended, not merely stopped taking work.
    std::lock_guard<std::mutex> lock(threadsMutex);
    EXPECT_EQ(workersEnded - endedBefore, static_cast<int>(threadsThatRan.size()));
  }
  poster.join();
  EXPECT_TRUE(group.done.waitFor(kDeadline));
  EXPECT_EQ(ran + group.failures, kTasks);
  EXPECT_EQ(channel->post(arena, &tasks[0], &mthread::runTask<CountingTask>), Channel::kClosed);
  channel.reset();  // a second shutdown from the destructor is harmless
}

TEST(Channel, TasksPostedWhileStoppingStillSignalTheirGroup) {
  Channel channel(2);
  OperationArena arena;
  Group group;
  std::atomic<int> ran{0};
  std::vector<CountingTask> tasks(8);
  group.pending = static_cast<int>(tasks.size());
  group.stopping = true;
  for (auto& t : tasks) {
    t.group = &group;
    t.ran = &ran;
    ASSERT_EQ(channel.post(arena, &t, &mthread::runTask<CountingTask>), Channel::kPosted);
  }
  EXPECT_TRUE(group.done.waitFor(kDeadline));
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(group.failures, 8);
}

TEST(IoChannel, WorkersComeFromTheSettingAtTheFirstPostOnly) {
  IoChannel io;  // a private instance: the process-wide one is left alone
  EXPECT_EQ(io.threadCountSetting(), 2u);
  EXPECT_EQ(io.workerCount(), 0u);
  io.setThreadCount(3);
  OperationArena arena;
  Gate gate;
  BlockingTask tasks[4];
  for (auto& t : tasks) t.gate = &gate;
  ASSERT_EQ(io.post(arena, &tasks[0], &mthread::runTask<BlockingTask>), Channel::kPosted);
  io.setThreadCount(1);  // too late: the channel exists
  for (int i = 1; i < 4; ++i) {
    ASSERT_EQ(io.post(arena, &tasks[i], &mthread::runTask<BlockingTask>), Channel::kPosted);
  }
  EXPECT_EQ(io.workerCount(), 3u);
  ASSERT_TRUE(eventually([&] { return gate.started == 3; }));
  release(gate);
  ASSERT_TRUE(eventually([&] { return gate.started == 4; }));
  io.shutdown();
  EXPECT_EQ(io.workerCount(), 0u);
  EXPECT_EQ(io.post(arena, &tasks[0], &mthread::runTask<BlockingTask>), Channel::kClosed);

  IoChannel neverUsed;
  neverUsed.shutdown();
  EXPECT_EQ(neverUsed.post(arena, &tasks[0], &mthread::runTask<BlockingTask>), Channel::kClosed);
  neverUsed.setThreadCount(0);
  EXPECT_EQ(neverUsed.threadCountSetting(), 1u);
}

TEST(OperationArena, BlockRules) {
  constexpr size_t kBlock = OperationArena::kBlockSize;
  {
    OperationArena arena;
    ASSERT_NE(arena.allocate(65500), nullptr);
    EXPECT_EQ(arena.blockSizes(), std::vector<size_t>{kBlock});
    ASSERT_NE(arena.allocate(100), nullptr);  // does not fit beside 65500: a new block
    EXPECT_EQ(arena.blockSizes(), (std::vector<size_t>{kBlock, kBlock}));
  }
  {
    OperationArena arena;
    void* small = arena.allocate(64);
    void* big = arena.allocate(65516);  // a block of its own
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(arena.blockSizes(),
              (std::vector<size_t>{kBlock, 65516 + OperationArena::kHeaderSize}));
    // The standard block keeps serving small requests after the big one.
    auto* next = static_cast<char*>(arena.allocate(64));
    EXPECT_EQ(arena.blockSizes().size(), 2u);
    EXPECT_EQ(next + 64, static_cast<char*>(small));  // handed out downward
  }
  {
    OperationArena arena;
    for (int i = 0; i < 1000; ++i) {
      auto* p = arena.allocate(24);
      ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
      std::memset(p, 0xAB, 24);
    }
    EXPECT_EQ(arena.blockSizes().size(), 1u);  // 1000 × 32 bytes fit one block
    arena.release();
    EXPECT_TRUE(arena.blockSizes().empty());
    auto* item = arena.create<Channel::WorkItem>(Channel::WorkItem{nullptr, nullptr});
    ASSERT_NE(item, nullptr);
  }
}
