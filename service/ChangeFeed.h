// ChangeFeed: a change count per account that the tree raises with every
// change it publishes, and the long waits of the notification endpoint on
// those counts. A cursor is "<run>.<count>": the run part is drawn at every
// start of the service, so a cursor from before a restart never matches and
// is answered "changed" at once (the client then looks at the tree).
//
// A waiting request holds one of the listener's request threads, so waiters
// are bounded in number, overall and per account: a request beyond the
// bounds gets no Seat and is told to retry later. close() ends every wait
// and refuses new ones, so a stopping service does not sit out its waiters.
//
//   auto seat = feed.join(account);       // empty: too many waiters
//   std::string now;
//   if (seat && feed.wait(*seat, cursor, 5s, &now) == ChangeFeed::Wait::kChanged) ...
//
// Thread safe: mutex_ guards the counts, the waiter numbers and closed_;
// waiters sleep on changed_. A Seat must not outlive its feed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace varnelo::service {

class ChangeFeed {
 public:
  static constexpr int kMaxWaiters = 16;
  static constexpr int kMaxWaitersPerAccount = 4;
  // The longest wait one request is granted, well inside the listeners'
  // read and write timeouts (60 s).
  static constexpr int kMaxWaitSeconds = 45;

  enum class Wait {
    kChanged,   // the cursor was not the current one, or the tree changed
    kTimedOut,  // nothing changed within the wait
    kClosed,    // the service is stopping
  };

  // One waiter's place among the bounded waiters; given back when destroyed.
  class Seat {
   public:
    Seat(Seat&& other) noexcept : feed_(other.feed_), account_(other.account_) {
      other.feed_ = nullptr;
    }
    Seat(const Seat&) = delete;
    Seat& operator=(const Seat&) = delete;
    Seat& operator=(Seat&&) = delete;
    ~Seat();
    int64_t account() const { return account_; }

   private:
    friend class ChangeFeed;
    Seat(ChangeFeed* feed, int64_t account) : feed_(feed), account_(account) {}
    ChangeFeed* feed_;
    int64_t account_;
  };

  explicit ChangeFeed(int maxWaiters = kMaxWaiters, int maxPerAccount = kMaxWaitersPerAccount);
  ChangeFeed(const ChangeFeed&) = delete;
  ChangeFeed& operator=(const ChangeFeed&) = delete;

  std::string cursor(int64_t account) const;
  // Called after every change of the account's tree is committed.
  void changed(int64_t account);
  // A seat for one waiting request; empty when the bounds are reached or
  // the feed is closed.
  std::optional<Seat> join(int64_t account);
  // Waits while `cursor` is the seat account's current cursor, at most
  // `timeout`; *current receives the cursor as the wait ends.
  Wait wait(const Seat& seat, const std::string& cursor, std::chrono::milliseconds timeout,
            std::string* current);
  void close();

 private:
  std::string cursorLocked(int64_t account) const;
  void leave(int64_t account);

  const int maxWaiters_;
  const int maxPerAccount_;
  const std::string run_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::unordered_map<int64_t, uint64_t> counts_;
  std::unordered_map<int64_t, int> waitersByAccount_;
  int waiters_ = 0;
  bool closed_ = false;
};

}  // namespace varnelo::service
