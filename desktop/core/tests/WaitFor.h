// Waits for a condition with a deadline (never a bare sleep as
// synchronisation): true as soon as `done()` holds, false at the deadline.
#pragma once

#include <chrono>
#include <thread>

namespace varnelo::desktop::test {

template <typename Done>
bool waitFor(Done done, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace varnelo::desktop::test
