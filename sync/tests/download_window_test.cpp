// The window of downloads in flight: transfers overlap on a real channel,
// completions come back on the caller's thread one at a time in the order
// of submission, and a transfer that never ran or threw is completed as not
// transferred instead of being waited for.
#include "DownloadWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace varnelo {
namespace {

// Transfers that wait until the test opens their gate, so that the test
// decides the order in which they end.
struct Gates {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<bool> open;
  int running = 0;
  int peak = 0;

  void open_(size_t i) {
    std::lock_guard lock(mutex);
    open[i] = true;
    changed.notify_all();
  }
};

class GatedFlight final : public DownloadWindow::Flight {
 public:
  GatedFlight(Gates& gates, size_t index, std::vector<std::pair<size_t, bool>>& completed,
              bool throws = false)
      : gates_(gates),
        index_(index),
        completed_(completed),
        throws_(throws),
        part_("/sync/.varnelo-temp/f" + std::to_string(index) + ".part") {}

  void transfer() override {
    std::unique_lock lock(gates_.mutex);
    gates_.peak = std::max(gates_.peak, ++gates_.running);
    gates_.changed.notify_all();
    gates_.changed.wait(lock, [&] { return gates_.open[index_]; });
    --gates_.running;
    if (throws_) throw std::runtime_error("no memory");
  }
  void complete(bool transferred) override {
    EXPECT_EQ(std::this_thread::get_id(), caller_);
    completed_.emplace_back(index_, transferred);
  }
  const std::string& partPath() const override { return part_; }

 private:
  Gates& gates_;
  const size_t index_;
  std::vector<std::pair<size_t, bool>>& completed_;
  const bool throws_;
  const std::string part_;
  const std::thread::id caller_ = std::this_thread::get_id();
};

DownloadWindow::Poster posterFor(mthread::Channel& channel) {
  return
      [&channel](mthread::OperationArena& arena, void* argument,
                 mthread::Channel::RunFunction run) { return channel.post(arena, argument, run); };
}

TEST(DownloadWindowTest, TransfersOverlapAndCompleteInSubmissionOrder) {
  mthread::Channel channel(4);
  Gates gates;
  gates.open.assign(6, false);
  std::vector<std::pair<size_t, bool>> completed;
  {
    DownloadWindow window(3, posterFor(channel));
    for (size_t i = 0; i < 3; ++i)
      window.submit(std::make_unique<GatedFlight>(gates, i, completed));
    {
      // All three run at once; none is completed before its turn.
      std::unique_lock lock(gates.mutex);
      ASSERT_TRUE(gates.changed.wait_for(lock, std::chrono::seconds(10),
                                         [&] { return gates.running == 3; }));
    }
    EXPECT_TRUE(window.holdsPartNamed("f1.part"));
    EXPECT_FALSE(window.holdsPartNamed("f7.part"));
    // The newest ends first, the oldest last: the fourth submit waits for the
    // oldest, and completions still come oldest first.
    gates.open_(2);
    gates.open_(1);
    gates.open_(0);
    window.submit(std::make_unique<GatedFlight>(gates, 3, completed));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].first, 0u);
    for (size_t i = 3; i < 6; ++i) gates.open_(i);
    window.submit(std::make_unique<GatedFlight>(gates, 4, completed));
    window.submit(std::make_unique<GatedFlight>(gates, 5, completed));
    EXPECT_LE(window.inFlight(), 3u);
  }  // the destructor completes the rest
  ASSERT_EQ(completed.size(), 6u);
  for (size_t i = 0; i < completed.size(); ++i) {
    EXPECT_EQ(completed[i].first, i);
    EXPECT_TRUE(completed[i].second);
  }
  EXPECT_LE(gates.peak, 3);
}

TEST(DownloadWindowTest, WhatMustNotWaitOnTheNetworkIsLetGoBeforeAWait) {
  // The hook runs on the caller's thread before it blocks: here it opens the
  // gate the wait is for, so a window that waited first would never return.
  mthread::Channel channel(2);
  Gates gates;
  gates.open.assign(2, false);
  std::vector<std::pair<size_t, bool>> completed;
  int calls = 0;
  DownloadWindow window(1, posterFor(channel));
  window.setBeforeWait([&] {
    ++calls;
    for (size_t i = 0; i < gates.open.size(); ++i) gates.open_(i);
  });
  window.submit(std::make_unique<GatedFlight>(gates, 0, completed));
  window.submit(std::make_unique<GatedFlight>(gates, 1, completed));
  EXPECT_GE(calls, 1);
  window.drain();
  EXPECT_EQ(completed.size(), 2u);
}

TEST(DownloadWindowTest, RefusedAndThrowingTransfersCompleteAsNotTransferred) {
  std::vector<std::pair<size_t, bool>> completed;
  Gates gates;
  gates.open.assign(3, true);
  mthread::Channel channel(2);
  {
    DownloadWindow window(4, posterFor(channel));
    window.submit(std::make_unique<GatedFlight>(gates, 0, completed, /*throws=*/true));
    window.submit(std::make_unique<GatedFlight>(gates, 1, completed));
    channel.shutdown();  // later posts are refused
    window.submit(std::make_unique<GatedFlight>(gates, 2, completed));
    window.drain();
    EXPECT_EQ(window.inFlight(), 0u);
  }
  ASSERT_EQ(completed.size(), 3u);
  EXPECT_EQ(completed[0], std::make_pair(size_t{0}, false));
  EXPECT_EQ(completed[1], std::make_pair(size_t{1}, true));
  EXPECT_EQ(completed[2], std::make_pair(size_t{2}, false));
}

}  // namespace
}  // namespace varnelo
