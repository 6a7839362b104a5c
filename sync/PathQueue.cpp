#include "PathQueue.h"

#include <algorithm>

#include "Log.h"
#include "platform/sync_primitives.h"

namespace varnelo {

bool PathQueue::suppressesLocked(const std::string& path) const {
  return !suppressed_.empty() && suppressed_ == path;
}

bool PathQueue::addLocked(const std::string& path) {
  if (suppressesLocked(path)) {
    log_write(kLogInfo, kModuleSync, "path excluded from updating set:[%s]", path.c_str());
    return false;
  }
  if (members_.count(path)) return false;
  log_write(kLogInfo, kModuleSync, "path added to updating set:[%s]", path.c_str());
  order_.push_back(path);
  members_.insert(order_.back());
  return true;
}

void PathQueue::wake() {
  if (platform::Event* waker = waker_.load()) waker->set();
}

bool PathQueue::add(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    renamedAway_.erase(path);
    if (!addLocked(path)) return false;
  }
  wake();
  return true;
}

void PathQueue::addRename(const std::string& oldPath, const std::string& newPath) {
  bool added = false;
  {
    std::lock_guard lock(mutex_);
    // A suppressed old name is not queued, so it is not marked either.
    if (addLocked(oldPath) || members_.count(oldPath)) {
      renamedAway_[oldPath] = newPath;
      added = true;
    }
    renamedAway_.erase(newPath);
    added = addLocked(newPath) || added;
  }
  if (added) wake();
}

std::optional<std::string> PathQueue::take() {
  std::lock_guard lock(mutex_);
  if (order_.empty()) return std::nullopt;
  members_.erase(order_.front());
  std::string path = std::move(order_.front());
  order_.pop_front();
  renamedAway_.erase(path);
  return path;
}

std::vector<std::string> PathQueue::takeAll(
    std::unordered_map<std::string, std::string>* renamedAway) {
  std::lock_guard lock(mutex_);
  members_.clear();
  std::vector<std::string> all(std::make_move_iterator(order_.begin()),
                               std::make_move_iterator(order_.end()));
  order_.clear();
  if (renamedAway) renamedAway->swap(renamedAway_);
  renamedAway_.clear();
  return all;
}

void PathQueue::clear() {
  std::lock_guard lock(mutex_);
  members_.clear();
  order_.clear();
  renamedAway_.clear();
}

bool PathQueue::empty() const {
  std::lock_guard lock(mutex_);
  return order_.empty();
}

bool PathQueue::anyNotRenamedAway(const std::function<bool(const std::string&)>& test) const {
  std::lock_guard lock(mutex_);
  return std::any_of(order_.begin(), order_.end(), [&](const std::string& path) {
    return !renamedAway_.count(path) && test(path);
  });
}

size_t PathQueue::size() const {
  std::lock_guard lock(mutex_);
  return order_.size();
}

void PathQueue::setSuppressed(const std::string& path) {
  std::lock_guard lock(mutex_);
  suppressed_ = path;
}

void PathQueue::clearSuppressed() {
  std::lock_guard lock(mutex_);
  suppressed_.clear();
}

bool PathQueue::isSuppressed(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return suppressesLocked(path);
}

}  // namespace varnelo
