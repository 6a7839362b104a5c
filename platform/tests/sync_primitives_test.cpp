#include "platform/sync_primitives.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using platform::Event;

TEST(Event, ManualStaysSetAutoIsConsumed) {
  Event manual(Event::Reset::Manual);
  EXPECT_FALSE(manual.waitFor(1ms));
  manual.set();
  EXPECT_TRUE(manual.waitFor(1ms));
  EXPECT_TRUE(manual.waitFor(1ms));
  manual.reset();
  EXPECT_FALSE(manual.isSet());

  Event automatic(Event::Reset::Auto, true);
  EXPECT_TRUE(automatic.waitFor(1ms));
  EXPECT_FALSE(automatic.waitFor(1ms));
}

TEST(Event, AutoResetWakesOneWaiterPerSet) {
  Event ev(Event::Reset::Auto);
  std::atomic<int> woken{0};
  std::thread a([&] {
    if (ev.waitFor(5s)) ++woken;
  });
  std::thread b([&] {
    if (ev.waitFor(5s)) ++woken;
  });
  // Like a Windows auto-reset event it is a flag, not a counter: a second
  // set before a waiter consumed the first one is lost, so set again only
  // after one waiter woke.
  ev.set();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (woken == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(woken, 1);
  ev.set();
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
}
