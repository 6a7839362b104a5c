#include "ChangeFeed.h"

#include "Crypto.h"

namespace varnelo::service {

ChangeFeed::Seat::~Seat() {
  if (feed_ != nullptr) feed_->leave(account_);
}

ChangeFeed::ChangeFeed(int maxWaiters, int maxPerAccount)
    : maxWaiters_(maxWaiters), maxPerAccount_(maxPerAccount), run_(toHex(randomBytes(8))) {}

std::string ChangeFeed::cursorLocked(int64_t account) const {
  auto it = counts_.find(account);
  return run_ + "." + std::to_string(it == counts_.end() ? 0 : it->second);
}

std::string ChangeFeed::cursor(int64_t account) const {
  std::lock_guard lock(mutex_);
  return cursorLocked(account);
}

void ChangeFeed::changed(int64_t account) {
  {
    std::lock_guard lock(mutex_);
    ++counts_[account];
  }
  changed_.notify_all();
}

std::optional<ChangeFeed::Seat> ChangeFeed::join(int64_t account) {
  std::lock_guard lock(mutex_);
  auto it = waitersByAccount_.find(account);
  const int mine = it == waitersByAccount_.end() ? 0 : it->second;
  if (closed_ || waiters_ >= maxWaiters_ || mine >= maxPerAccount_) return std::nullopt;
  ++waiters_;
  ++waitersByAccount_[account];
  return Seat(this, account);
}

void ChangeFeed::leave(int64_t account) {
  std::lock_guard lock(mutex_);
  --waiters_;
  if (--waitersByAccount_[account] <= 0) waitersByAccount_.erase(account);
}

ChangeFeed::Wait ChangeFeed::wait(const Seat& seat, const std::string& cursor,
                                  std::chrono::milliseconds timeout, std::string* current) {
  std::unique_lock lock(mutex_);
  const int64_t account = seat.account();
  const bool woken =
      changed_.wait_for(lock, timeout, [&] { return closed_ || cursorLocked(account) != cursor; });
  *current = cursorLocked(account);
  if (closed_) return Wait::kClosed;
  return woken ? Wait::kChanged : Wait::kTimedOut;
}

void ChangeFeed::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace varnelo::service
