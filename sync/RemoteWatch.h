// RemoteWatch: waits on the service's change notifications while a sync
// runs and tells the idle loop when the account's tree changed, so a change
// made on another computer is fetched within moments rather than at the
// next poll. The poll stays as it was: with a service that offers no
// notifications, or while they fail, the tree is still looked at every poll
// interval.
//
// Started and stopped by the file syncer's sync thread; the waiting runs on
// a thread of its own that stop() ends at once (the wait in progress is
// cancelled) and joins. `onChange` is called on that thread and must only
// flag and wake (it may run at any moment until stop() returns).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Transport.h"
#include "varnelo/account.h"

namespace varnelo::sync {

class RemoteWatch {
 public:
  // The longest wait asked for: below the service's and proxies' usual
  // idle timeouts.
  static constexpr int kMaxWaitSeconds = 55;
  // After a failed wait the next one waits this long, doubled with every
  // further failure up to kMaxBackoffMs (the poll covers the time between).
  static constexpr uint32_t kFirstBackoffMs = 2000;
  static constexpr uint32_t kMaxBackoffMs = 60000;
  // Never more than one wait per this long, whatever the service answers.
  static constexpr uint32_t kMinSpacingMs = 250;

  using OnChange = std::function<void()>;

  RemoteWatch() = default;
  ~RemoteWatch() { stop(); }
  RemoteWatch(const RemoteWatch&) = delete;
  RemoteWatch& operator=(const RemoteWatch&) = delete;

  // Starts waiting from `cursor` (what /info offered). `credentials` must
  // outlive stop().
  void start(const varnelo_credentials* credentials, std::string cursor, int waitSeconds,
             OnChange onChange);
  void stop();
  bool running() const { return thread_.joinable(); }

  // Changes the service reported (tests, the log).
  uint64_t changes() const { return changes_.load(); }

 private:
  void work();
  // Sleeps `ms` unless stopped meanwhile; false when stopping.
  bool pause(uint32_t ms);

  const varnelo_credentials* credentials_ = nullptr;
  std::string cursor_;  // the watch thread's
  int waitSeconds_ = 0;
  OnChange onChange_;
  // Made by start() (a cancelled signal stays cancelled); stop() cancels it.
  std::unique_ptr<http::CancelSignal> cancel_;
  std::mutex mutex_;  // guards stopping_ for pause()'s sleeps
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::atomic<uint64_t> changes_{0};
  std::thread thread_;
};

}  // namespace varnelo::sync
