// The listings of the folders a remote pass walks next, fetched on a thread
// of their own.
//
// The pass walks the service's folders one at a time on the sync thread:
// it lists a folder, then places what came with it while the transfers run.
// Asking the service for a listing and reading its reply (JSON and, for
// small files, their content) was a quarter of that thread's time, during
// which the transfers ran dry. Here the pass names the folders it expects
// to walk next, in its own order, and their listings are fetched while it
// works on the folder before them.
//
//   ListingAhead ahead(fetch);                 // fetch(remotePath, withContent)
//   ahead.request("/a", true);                 // the walk expects "/a" next
//   ...
//   auto listing = ahead.take("/a", true);     // waits for it; nothing: list it now
//   ahead.drop("/b");                          // the walk passed "/b" by
//
// A listing fetched ahead is at most a few folders' work older than one
// the walk would have fetched itself, like a reply that took that long to
// come; changes after it bring the next pass, as with any listing. What is
// asked for at once is bounded (`ahead`), in fetches and in the small
// files' content they hold; a listing that failed is not used, and the walk
// lists that folder itself.
//
// request() and take() from one thread (the sync thread); the destructor
// waits for the fetch in flight, if any, and joins the thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "RemoteListing.h"

namespace varnelo::downloader {

class ListingAhead {
 public:
  using Fetch = std::function<FetchedListing(const std::string& remotePath, bool withContent)>;
  static constexpr size_t kAhead = 2;

  explicit ListingAhead(Fetch fetch, size_t ahead = kAhead);
  ~ListingAhead();
  ListingAhead(const ListingAhead&) = delete;
  ListingAhead& operator=(const ListingAhead&) = delete;

  // The walk expects `remotePath` after what it asked for before: fetched
  // when fewer than `ahead` are asked for and it is not asked for already.
  // True when it is (now or before).
  bool request(const std::string& remotePath, bool withContent);
  // The listing asked for under `remotePath` and `withContent`, once it is
  // fetched; nothing (and it is dropped) when it was asked for the other
  // way, its fetch has not begun yet, or failed.
  std::optional<FetchedListing> take(const std::string& remotePath, bool withContent);
  // The walk will not take `remotePath`: its listing goes, fetched or not.
  void drop(const std::string& remotePath);
  // How many are asked for and not yet taken or dropped.
  size_t pending() const;
  // How many may be asked for at once.
  size_t bound() const { return ahead_; }

 private:
  enum class State { Asked, Fetching, Fetched };
  struct Item {
    std::string remotePath;
    bool withContent = false;
    State state = State::Asked;  // guarded by mutex_
    FetchedListing listing;      // written by the worker before Fetched
  };
  void run();
  std::shared_ptr<Item> firstAsked() const;

  const Fetch fetch_;
  const size_t ahead_;
  // Guards items_, every Item's state (and its listing once fetched) and
  // closing_; the worker fetches without it, for an item it holds a share
  // of, so that one dropped meanwhile is only let go.
  mutable std::mutex mutex_;
  std::condition_variable changed_;          // an item was asked for or fetched, or closing
  std::deque<std::shared_ptr<Item>> items_;  // fetched in the order asked for
  bool closing_ = false;
  std::thread worker_;  // started with the first request
};

}  // namespace varnelo::downloader
