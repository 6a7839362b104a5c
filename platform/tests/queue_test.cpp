#include "platform/queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

using platform::CompletionQueue;

TEST(CompletionQueue, ManyProducersAndConsumersLoseNothingAndKeepEachProducersOrder) {
  CompletionQueue<int> queue;
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 5000;
  std::vector<std::vector<int>> taken(3);
  std::vector<std::thread> consumers;
  for (auto& mine : taken) {
    consumers.emplace_back([&queue, &mine] {
      int v;
      while (queue.get(v)) mine.push_back(v);
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&queue, p] {
      for (int i = 0; i < kPerProducer; ++i) ASSERT_TRUE(queue.post(p * kPerProducer + i));
    });
  }
  for (auto& t : producers) t.join();
  queue.close();
  for (auto& t : consumers) t.join();

  std::vector<int> all;
  for (const auto& mine : taken) {
    // One consumer sees the items of one producer in the order they were posted.
    for (int p = 0; p < kProducers; ++p) {
      int last = -1;
      for (int v : mine) {
        if (v / kPerProducer != p) continue;
        EXPECT_LT(last, v);
        last = v;
      }
    }
    all.insert(all.end(), mine.begin(), mine.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), size_t{kProducers * kPerProducer});
  for (int i = 0; i < kProducers * kPerProducer; ++i) EXPECT_EQ(all[i], i);
}

TEST(CompletionQueue, CloseDrainsQueuedItemsThenReleasesWaitersAndRefusesPosts) {
  CompletionQueue<int> queue;
  ASSERT_TRUE(queue.post(1));
  ASSERT_TRUE(queue.post(2));
  queue.close();
  EXPECT_FALSE(queue.post(3));
  int v = 0;
  ASSERT_TRUE(queue.get(v));
  EXPECT_EQ(v, 1);
  ASSERT_TRUE(queue.get(v));
  EXPECT_EQ(v, 2);
  EXPECT_FALSE(queue.get(v));

  // A consumer already blocked in get() is woken by close().
  CompletionQueue<int> empty;
  std::thread waiter([&empty] {
    int x;
    EXPECT_FALSE(empty.get(x));
  });
  empty.close();
  waiter.join();
}
