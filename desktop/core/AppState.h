// The application state: one integer that the engine's reports, the login
// and the shutdown change, and that the tray and the windows follow through
// listeners. Values are those of AppStateValue; the syncing values are bit
// sets (1 uploading, 2 downloading).
//
//   int token = app.state().addListener([](int from, int to) { ... });
//   app.state().set(kAppConnecting);
//
// Thread safe. Listeners run on the thread that changed the state, one
// change at a time and in order; they only record and post (they must not
// change the state or the listener list themselves).
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

namespace varnelo::desktop {

enum AppStateValue : int {
  kAppIdle = 0,  // sync complete
  kAppUploading = 1,
  kAppDownloading = 2,
  kAppSyncing = 3,
  kAppPaused = 4,
  kAppStopped = 8,
  kAppLoginNeeded = 16,
  kAppConnecting = 32,
  kAppStarting = 64,
  kAppIndexing = 128,
  kAppStopping = 256,
  kAppCompletedWithErrors = 512,
  kAppClientTooOld = 1024,
};

// True for 1, 2 and 3: a transfer runs.
constexpr bool isSyncingState(int state) {
  return state >= 1 && state <= 3;
}

class AppState {
 public:
  using Listener = std::function<void(int oldState, int newState)>;

  explicit AppState(int initial = kAppIdle) : value_(initial) {}

  int get() const { return value_.load(); }
  // Stores `state` and tells every listener, unless it is the current one.
  void set(int state);

  // A token for removeListener.
  int addListener(Listener listener);
  void removeListener(int token);

 private:
  std::atomic<int> value_;
  // Serialises changes with their notifications, and guards listeners_ and
  // nextToken_.
  std::mutex mutex_;
  std::map<int, Listener> listeners_;
  int nextToken_ = 1;
};

}  // namespace varnelo::desktop
