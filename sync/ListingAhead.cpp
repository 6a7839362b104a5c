#include "ListingAhead.h"

#include <algorithm>
#include <exception>

#include "Log.h"

namespace varnelo::downloader {

ListingAhead::ListingAhead(Fetch fetch, size_t ahead)
    : fetch_(std::move(fetch)), ahead_(ahead ? ahead : 1) {}

ListingAhead::~ListingAhead() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    items_.clear();
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool ListingAhead::request(const std::string& remotePath, bool withContent) {
  {
    std::lock_guard lock(mutex_);
    const bool asked = std::any_of(items_.begin(), items_.end(), [&](const auto& item) {
      return item->remotePath == remotePath && item->withContent == withContent;
    });
    if (asked) return true;
    if (items_.size() >= ahead_) return false;
    auto item = std::make_shared<Item>();
    item->remotePath = remotePath;
    item->withContent = withContent;
    items_.push_back(std::move(item));
  }
  changed_.notify_all();
  if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
  return true;
}

std::optional<FetchedListing> ListingAhead::take(const std::string& remotePath, bool withContent) {
  std::unique_lock lock(mutex_);
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [&](const auto& item) { return item->remotePath == remotePath; });
  if (found == items_.end()) return std::nullopt;
  const std::shared_ptr<Item> item = *found;
  items_.erase(found);
  // One the worker has not begun is listed by the walk now, at once.
  if (item->withContent != withContent || item->state == State::Asked) return std::nullopt;
  changed_.wait(lock, [&] { return item->state == State::Fetched; });
  if (item->listing.code != codes::kOk) return std::nullopt;  // listed again, by the walk
  return std::move(item->listing);
}

void ListingAhead::drop(const std::string& remotePath) {
  std::lock_guard lock(mutex_);
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [&](const auto& item) { return item->remotePath == remotePath; });
  if (found != items_.end()) items_.erase(found);
}

size_t ListingAhead::pending() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

std::shared_ptr<ListingAhead::Item> ListingAhead::firstAsked() const {
  const auto it = std::find_if(items_.begin(), items_.end(),
                               [](const auto& item) { return item->state == State::Asked; });
  return it == items_.end() ? nullptr : *it;
}

void ListingAhead::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return closing_ || firstAsked(); });
    if (closing_) return;
    const std::shared_ptr<Item> item = firstAsked();
    item->state = State::Fetching;
    lock.unlock();
    FetchedListing listing;
    try {
      listing = fetch_(item->remotePath, item->withContent);
    } catch (const std::exception&) {
      // Out of memory, most likely: the walk lists the folder itself.
      log_write(kLogError, kModuleSync, "listing ahead failed:[%s]", item->remotePath.c_str());
      listing.code = codes::kOtherFailure;
    }
    lock.lock();
    item->listing = std::move(listing);
    item->state = State::Fetched;
    changed_.notify_all();
  }
}

}  // namespace varnelo::downloader
