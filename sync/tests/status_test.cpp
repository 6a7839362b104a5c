#include <gtest/gtest.h>

#include <thread>
#include <unordered_map>

#include "PathQueue.h"
#include "SpeedMeter.h"
#include "StatusImpl.h"

using varnelo::MeterSet;
using varnelo::SpeedMeter;

TEST(SpeedMeter, OldestSampleOnlyMarksTheStartOfTheSpan) {
  SpeedMeter m;
  m.addSample(100, 1000);
  EXPECT_EQ(m.speed(100), 0u);  // one sample
  m.addSample(101, 1000);
  m.addSample(102, 1000);
  EXPECT_EQ(m.speed(102), 2000u);  // (1000 + 1000) / (102 - 101)
}

TEST(SpeedMeter, SameSecondAndStaleSamplesGiveZero) {
  SpeedMeter same;
  same.addSample(50, 10);
  same.addSample(50, 10);
  same.addSample(50, 10);
  EXPECT_EQ(same.speed(50), 0u);

  SpeedMeter stale;
  stale.addSample(100, 500);
  stale.addSample(101, 500);
  stale.addSample(102, 500);
  EXPECT_EQ(stale.speed(200), 0u);  // everything older than the window
}

TEST(SpeedMeter, RolledBackBytesNeverWrapToAHugeSpeed) {
  SpeedMeter m;
  m.addSample(10, 0);
  m.addSample(11, 100);
  m.addSample(12, -5000);  // a failed attempt's bytes taken back
  EXPECT_EQ(m.speed(12), 0u);
}

TEST(MeterSet, SumsThreads) {
  MeterSet set;
  for (int64_t t : {1, 2}) {
    set.addSample(t, 100, 25000);  // each thread: 50000 bytes per second
    set.addSample(t, 101, 25000);
    set.addSample(t, 102, 25000);
  }
  EXPECT_EQ(set.speed(102), 100000u);
}

TEST(StatusImpl, AbsentPartsAnswerZeroAndNull) {
  auto* s = new varnelo::StatusImpl(nullptr, nullptr, nullptr);
  EXPECT_EQ(s->uploadSpeed(), 0u);
  EXPECT_EQ(s->downloadSpeed(), 0u);
  EXPECT_EQ(s->currentFile(), nullptr);
  EXPECT_EQ(s->currentTotal(), 0u);
  EXPECT_EQ(s->currentDone(), 0u);
  s->release();
}

TEST(StatusImpl, CurrentFileStaysValidWhileTheRecordChanges) {
  auto record = std::make_shared<varnelo::TransferRecord>();
  record->start("/sync/first-file-with-a-long-name.bin", 100);
  record->progress(40);
  record->progress(-60);  // roll back more than was counted
  auto* s = new varnelo::StatusImpl(nullptr, nullptr, record);
  const char* name = s->currentFile();
  record->start("/sync/b", 7);  // the sync thread moves on
  EXPECT_STREQ(name, "/sync/first-file-with-a-long-name.bin");
  EXPECT_EQ(s->currentDone(), 0u);
  EXPECT_EQ(s->currentTotal(), 7u);
  s->release();
}

TEST(PathQueue, DeduplicatesKeepsOrderAndHonoursSuppression) {
  varnelo::PathQueue q;
  EXPECT_TRUE(q.add("/a"));
  EXPECT_TRUE(q.add("/b"));
  EXPECT_FALSE(q.add("/a"));
  q.setSuppressed("/c");
  EXPECT_FALSE(q.add("/c"));
  EXPECT_TRUE(q.add("/C"));  // exact text only
  q.clearSuppressed();
  EXPECT_TRUE(q.add("/c"));
  EXPECT_EQ(*q.take(), "/a");
  EXPECT_TRUE(q.add("/a"));  // taken paths may be queued again
  EXPECT_EQ(q.takeAll(), (std::vector<std::string>{"/b", "/C", "/c", "/a"}));
  EXPECT_FALSE(q.take().has_value());
}

TEST(PathQueue, MarksANameRenamedAwayUntilItsNextEvent) {
  varnelo::PathQueue q;
  auto unmarked = [&q](const std::string& path) {
    return q.anyNotRenamedAway([&](const std::string& p) { return p == path; });
  };
  q.addRename("/old", "/new");
  EXPECT_EQ(q.size(), 2u);
  EXPECT_FALSE(unmarked("/old"));
  EXPECT_TRUE(unmarked("/new"));
  // A later event for the old name (created anew, then removed) is its own.
  q.add("/old");
  EXPECT_TRUE(unmarked("/old"));
  // Renamed back: the new name is the one gone now.
  q.addRename("/new", "/old");
  EXPECT_FALSE(unmarked("/new"));
  EXPECT_TRUE(unmarked("/old"));
  std::unordered_map<std::string, std::string> marks;
  EXPECT_EQ(q.takeAll(&marks), (std::vector<std::string>{"/old", "/new"}));
  EXPECT_EQ(marks, (std::unordered_map<std::string, std::string>{{"/new", "/old"}}))
      << "the marks go with the paths, each with the name it went to";
  // A suppressed old name is neither queued nor marked.
  q.setSuppressed("/part");
  q.addRename("/part", "/placed");
  EXPECT_EQ(q.takeAll(), (std::vector<std::string>{"/placed"}));
}

TEST(PathQueue, StaysExactAcrossManyTakesAndAddsOfLongPaths) {
  // Paths longer than a string's inline buffer, and more of them than one
  // block of the queue holds, taken and queued again from both ends: every
  // duplicate test must see exactly the paths still queued.
  varnelo::PathQueue q;
  auto path = [](int i) {
    return "/sync/some/folder/deep/enough/file-" + std::to_string(i) + ".bin";
  };
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(q.add(path(i)));
  for (int i = 0; i < 400; ++i) EXPECT_EQ(*q.take(), path(i));
  int added = 0;
  for (int i = 0; i < 1000; ++i) added += q.add(path(i)) ? 1 : 0;
  EXPECT_EQ(added, 400) << "only the taken paths join again";
  EXPECT_EQ(q.size(), 1000u);
  std::vector<std::string> all = q.takeAll();
  ASSERT_EQ(all.size(), 1000u);
  EXPECT_EQ(all.front(), path(400));
  EXPECT_EQ(all[599], path(999));
  EXPECT_EQ(all[600], path(0));
  EXPECT_EQ(all.back(), path(399));
  // Emptied by takeAll and by clear: nothing is refused as already queued.
  EXPECT_TRUE(q.add(path(7)));
  q.clear();
  EXPECT_TRUE(q.add(path(7)));
  EXPECT_FALSE(q.add(path(7)));
}

TEST(PathQueue, ConcurrentAddersLoseNothing) {
  varnelo::PathQueue q;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&q, t] {
      for (int i = 0; i < 500; ++i)
        q.add("/p" + std::to_string(i % 250) + "-" + std::to_string(t % 2));
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(q.size(), 500u);
}
