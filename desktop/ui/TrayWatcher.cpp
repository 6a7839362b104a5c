#include "TrayWatcher.h"

#include <chrono>

namespace varnelo::desktop {

void onAppStateForTray(TrayModel& model, int newState,
                       const std::function<void(const TrayPost&)>& post) {
  model.requestedState.store(newState);
  const int displayed = model.displayedState.load();
  if (displayed >= 1 && displayed <= 3 && newState == 0) return;  // the watcher decides
  post({TrayPost::Status, newState});
}

std::vector<TrayPost> TrayDebouncer::tick(int requested, int displayed, bool shutdownOption,
                                          int64_t idleSinceMs, int64_t nowMs) {
  std::vector<TrayPost> posts;
  if (debouncing_) {
    if (requested != target_) {
      debouncing_ = false;  // the state moved on: start again from the top
    } else if (requested == displayed) {
      debouncing_ = false;  // the UI caught up by another way
    } else {
      posts.push_back({TrayPost::Progress, displayed});
      if (++ticks_ >= kDebounceTicks) {
        posts.push_back({TrayPost::Status, target_});
        debouncing_ = false;
      }
      return posts;
    }
  }
  if (requested == displayed) {
    posts.push_back({TrayPost::Progress, displayed});
    if (!shutdownOption) shutdownShownFor_ = -1;
    if (shutdownOption && displayed == 0 && idleSinceMs >= 0 &&
        nowMs - idleSinceMs > kShutdownAfterIdleMs && shutdownShownFor_ != idleSinceMs) {
      // Once per idle period: a user who cancels the dialog is not asked
      // again every 250 ms.
      shutdownShownFor_ = idleSinceMs;
      posts.push_back({TrayPost::ShowShutdown, 0});
    }
    return posts;
  }
  debouncing_ = true;
  target_ = requested;
  ticks_ = 0;
  posts.push_back({TrayPost::Progress, displayed});
  return posts;
}

TrayWatcher::TrayWatcher(TrayModel& model, Post post, Clock clock)
    : model_(model), post_(std::move(post)), clock_(std::move(clock)) {}

TrayWatcher::~TrayWatcher() {
  stop();
}

void TrayWatcher::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { run(); });
}

void TrayWatcher::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TrayWatcher::run() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(TrayDebouncer::kTickMs),
                         [this] { return stop_; })) {
    lock.unlock();
    const auto posts =
        debouncer_.tick(model_.requestedState.load(), model_.displayedState.load(),
                        model_.shutdownAfterSync.load(), model_.idleSinceMs.load(), clock_());
    for (const TrayPost& p : posts) post_(p);
    lock.lock();
  }
}

}  // namespace varnelo::desktop
