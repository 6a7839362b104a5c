#include "ListingAhead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using varnelo::downloader::FetchedListing;
using varnelo::downloader::ListedAllowance;
using varnelo::downloader::ListedContent;
using varnelo::downloader::ListingAhead;
using varnelo::downloader::RemoteEntry;
namespace codes = varnelo::codes;

namespace {

// A service stand-in: each listing names its folder and how it was asked
// for, and holds `kContent` bytes of the allowance when asked with content.
// Fetches can be held back until let go, and paths in `failing` fail.
class FakeListings {
 public:
  static constexpr size_t kContent = 1000;
  explicit FakeListings(ListedAllowance& allowance) : allowance_(allowance) {}

  FetchedListing fetch(const std::string& path, bool withContent) {
    {
      std::unique_lock lock(mutex_);
      fetched_.push_back(path);
      changed_.notify_all();
      changed_.wait(lock, [&] { return !holding_; });
    }
    FetchedListing listing;
    if (path.find("fail") != std::string::npos) {
      listing.code = codes::kOtherFailure;
      return listing;
    }
    RemoteEntry entry;
    entry.name = path + (withContent ? "+content" : "");
    if (withContent)
      entry.content = ListedContent::take(allowance_, std::vector<uint8_t>(kContent, 7));
    listing.entries.push_back(std::move(entry));
    return listing;
  }
  void hold(bool on) {
    std::lock_guard lock(mutex_);
    holding_ = on;
    changed_.notify_all();
  }
  void waitForFetches(size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return fetched_.size() >= n; });
  }
  std::vector<std::string> fetched() {
    std::lock_guard lock(mutex_);
    return fetched_;
  }

 private:
  ListedAllowance& allowance_;
  std::mutex mutex_;  // guards fetched_ and holding_
  std::condition_variable changed_;
  std::vector<std::string> fetched_;
  bool holding_ = false;
};

std::string nameOf(const std::optional<FetchedListing>& listing) {
  return listing && !listing->entries.empty() ? listing->entries.front().name : "(none)";
}

}  // namespace

// What is asked for ahead is bounded and fetched in the order asked; each
// take gets that folder's own listing, asked for the same way, and frees
// its place for the next one.
TEST(ListingAhead, ListingsAreFetchedInOrderWithinTheBoundAndTakenByTheirOwnFolder) {
  ListedAllowance allowance(1 << 20);
  FakeListings service(allowance);
  ListingAhead ahead([&](const std::string& p, bool c) { return service.fetch(p, c); }, 2);

  EXPECT_TRUE(ahead.request("/a", true));
  EXPECT_TRUE(ahead.request("/b", false));
  EXPECT_TRUE(ahead.request("/a", true)) << "asked for already";
  EXPECT_FALSE(ahead.request("/c", false)) << "over the bound";
  EXPECT_EQ(ahead.pending(), 2u);

  service.waitForFetches(2);
  EXPECT_EQ(nameOf(ahead.take("/b", false)), "/b");
  EXPECT_EQ(nameOf(ahead.take("/a", true)), "/a+content");
  EXPECT_EQ(ahead.pending(), 0u);
  EXPECT_EQ(nameOf(ahead.take("/a", true)), "(none)") << "taken once";
  EXPECT_TRUE(ahead.request("/c", false));
  service.waitForFetches(3);
  EXPECT_EQ(nameOf(ahead.take("/c", false)), "/c");
  EXPECT_EQ(service.fetched(), (std::vector<std::string>{"/a", "/b", "/c"}));
}

// A listing that failed, was asked for the other way, or was dropped is
// never handed out: the walk lists that folder itself. Whatever goes gives
// its small files' content back to the allowance, also a fetch that was
// still running when its listing was dropped or the pass ended.
TEST(ListingAhead, WhatIsNotTakenIsDroppedAndGivesItsContentBack) {
  ListedAllowance allowance(1 << 20);
  const size_t full = allowance.left();
  FakeListings service(allowance);
  std::thread release;
  {
    ListingAhead ahead([&](const std::string& p, bool c) { return service.fetch(p, c); }, 3);
    ahead.request("/fail", true);
    ahead.request("/other-way", true);
    ahead.request("/dropped", true);
    service.waitForFetches(3);
    EXPECT_EQ(nameOf(ahead.take("/fail", true)), "(none)");
    EXPECT_EQ(nameOf(ahead.take("/other-way", false)), "(none)");
    EXPECT_EQ(ahead.pending(), 1u) << "one asked for the other way is dropped";
    ahead.drop("/dropped");
    EXPECT_EQ(ahead.pending(), 0u);
    EXPECT_EQ(nameOf(ahead.take("/dropped", true)), "(none)");

    // One still being fetched when it is dropped, and one when the pass
    // ends: the destructor waits for that fetch.
    service.hold(true);
    ahead.request("/late", true);
    service.waitForFetches(4);
    ahead.drop("/late");
    ahead.request("/last", true);
    release = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      service.hold(false);
    });
  }
  release.join();
  EXPECT_EQ(allowance.left(), full);
}

// A folder whose fetch has not begun (the worker is busy with the one
// before it) is not waited for: the walk lists it itself at once.
TEST(ListingAhead, AFolderWhoseFetchHasNotBegunIsNotWaitedFor) {
  ListedAllowance allowance(1 << 20);
  FakeListings service(allowance);
  ListingAhead ahead([&](const std::string& p, bool c) { return service.fetch(p, c); }, 2);
  service.hold(true);
  ahead.request("/slow", false);
  ahead.request("/next", false);
  service.waitForFetches(1);
  EXPECT_EQ(nameOf(ahead.take("/next", false)), "(none)");
  EXPECT_EQ(ahead.pending(), 1u);
  service.hold(false);
  EXPECT_EQ(nameOf(ahead.take("/slow", false)), "/slow");
  EXPECT_EQ(service.fetched(), (std::vector<std::string>{"/slow"}));
}
