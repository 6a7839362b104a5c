// The tray watcher: a thread that looks at the requested and displayed states
// every 250 ms. While they agree it asks for a progress refresh; when the
// state the listener left to it (the end of a pass) stays the same for 40
// ticks (10 s) it asks for that status, so short pauses between transfers
// never flash "sync complete". It also asks for the shut-down dialog once per
// idle period when that option is on and the tray has shown completion for
// more than 150 s.
//
// TrayDebouncer is the decision on its own (no thread, no clock), so tests
// drive it tick by tick; TrayWatcher runs it on its thread. The thread only
// reads atomics and calls `post`, which must be safe from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "TrayModel.h"

namespace varnelo::desktop {

struct TrayPost {
  enum Kind { Status, Progress, ShowShutdown } kind;
  int state = 0;  // for Status
  bool operator==(const TrayPost&) const = default;
};

// The main window's listener on the application state (any thread): records
// the requested state and asks for the status at once, except for the end of
// a pass (syncing -> 0), which the watcher debounces.
void onAppStateForTray(TrayModel& model, int newState,
                       const std::function<void(const TrayPost&)>& post);

class TrayDebouncer {
 public:
  static constexpr int kTickMs = 250;
  static constexpr int kDebounceTicks = 40;
  static constexpr int64_t kShutdownAfterIdleMs = 150000;

  // One tick; idleSinceMs is -1 while the displayed state is not 0.
  std::vector<TrayPost> tick(int requested, int displayed, bool shutdownOption, int64_t idleSinceMs,
                             int64_t nowMs);

 private:
  bool debouncing_ = false;
  int target_ = 0;
  int ticks_ = 0;
  int64_t shutdownShownFor_ = -1;  // the idle period the dialog was asked for
};

class TrayWatcher {
 public:
  using Post = std::function<void(const TrayPost&)>;
  using Clock = std::function<int64_t()>;  // milliseconds, monotonic

  TrayWatcher(TrayModel& model, Post post, Clock clock);
  ~TrayWatcher();  // stops and joins
  TrayWatcher(const TrayWatcher&) = delete;
  TrayWatcher& operator=(const TrayWatcher&) = delete;

  void start();
  // Signals the stop and joins the thread (at most one tick away).
  void stop();

 private:
  void run();

  TrayModel& model_;
  Post post_;
  Clock clock_;
  TrayDebouncer debouncer_;  // used by the thread only
  std::mutex mutex_;         // guards stop_ for the condition variable
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace varnelo::desktop
