#include "PathQueue.h"

#include <algorithm>

#include "Log.h"
#include "platform/sync_primitives.h"

namespace varnelo {

bool PathQueue::add(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    if (!suppressed_.empty() && suppressed_ == path) {
      log_write(kLogInfo, kModuleSync, "path excluded from updating set:[%s]", path.c_str());
      return false;
    }
    if (!members_.insert(path).second) return false;
    log_write(kLogInfo, kModuleSync, "path added to updating set:[%s]", path.c_str());
    order_.push_back(path);
  }
  if (platform::Event* waker = waker_.load()) waker->set();
  return true;
}

std::optional<std::string> PathQueue::take() {
  std::lock_guard lock(mutex_);
  if (order_.empty()) return std::nullopt;
  std::string path = std::move(order_.front());
  order_.pop_front();
  members_.erase(path);
  return path;
}

std::vector<std::string> PathQueue::takeAll() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> all(std::make_move_iterator(order_.begin()),
                               std::make_move_iterator(order_.end()));
  order_.clear();
  members_.clear();
  return all;
}

void PathQueue::clear() {
  std::lock_guard lock(mutex_);
  order_.clear();
  members_.clear();
}

bool PathQueue::empty() const {
  std::lock_guard lock(mutex_);
  return order_.empty();
}

bool PathQueue::any(const std::function<bool(const std::string&)>& test) const {
  std::lock_guard lock(mutex_);
  return std::any_of(order_.begin(), order_.end(), test);
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

}  // namespace varnelo
