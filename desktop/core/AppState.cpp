#include "AppState.h"

namespace varnelo::desktop {

void AppState::set(int state) {
  std::lock_guard lock(mutex_);
  const int old = value_.exchange(state);
  if (old == state) return;
  for (auto& [token, listener] : listeners_) listener(old, state);
}

int AppState::addListener(Listener listener) {
  std::lock_guard lock(mutex_);
  const int token = nextToken_++;
  listeners_.emplace(token, std::move(listener));
  return token;
}

void AppState::removeListener(int token) {
  std::lock_guard lock(mutex_);
  listeners_.erase(token);
}

}  // namespace varnelo::desktop
