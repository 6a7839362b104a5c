#include "FileStateWorker.h"

#include <vector>

namespace varnelo::desktop {

FileStateWorker::FileStateWorker(FileStateCache& cache) : cache_(cache) {}

FileStateWorker::~FileStateWorker() {
  stop();
}

void FileStateWorker::start() {
  if (thread_.joinable()) return;
  cache_.resumeRetries();
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void FileStateWorker::stop() {
  running_ = false;
  cache_.cancelRetries();
  work_.set();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  queue_.clear();
  index_.clear();
}

void FileStateWorker::enqueue(const std::string& path, int state) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = index_.find(path); it != index_.end()) {
      it->second->state = state;
      return;
    }
    queue_.push_back({path, state});
    index_.emplace(path, std::prev(queue_.end()));
  }
  work_.set();
}

size_t FileStateWorker::pending() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

bool FileStateWorker::idle() {
  std::lock_guard lock(mutex_);
  return queue_.empty() && !busy_;
}

void FileStateWorker::run() {
  while (running_) {
    work_.wait();
    if (!running_) break;
    drain();
  }
}

void FileStateWorker::drain() {
  std::vector<Entry> batch;
  while (running_) {
    batch.clear();
    {
      std::lock_guard lock(mutex_);
      for (size_t i = 0; i < kBatch && !queue_.empty(); ++i) {
        index_.erase(queue_.front().path);
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
      }
      busy_ = !batch.empty();
    }
    if (batch.empty()) return;
    // Reports that arrive while the application does not sync are stale:
    // the cache is rebuilt when sync starts again.
    if (!cache_.isRunning()) {
      std::lock_guard lock(mutex_);
      queue_.clear();
      index_.clear();
      busy_ = false;
      return;
    }
    {
      FileStateCache::Batch transaction(cache_);
      for (const Entry& e : batch) {
        if (!running_) break;
        cache_.apply(e.path, e.state);
      }
    }
    std::lock_guard lock(mutex_);
    busy_ = false;
  }
}

}  // namespace varnelo::desktop
