// CompletionQueue: the thread-safe work queue that stands in for an I/O
// completion port used without files. Any number of producers post items and
// any number of consumers block in get(); items leave in the order they were
// posted. close() refuses further posts and wakes every consumer once the
// items already queued have been handed out, so nothing posted is lost.
//
// All operations are thread safe. Typical use (a pool of workers):
//
//   platform::CompletionQueue<Job*> queue;
//   // worker:   Job* job; while (queue.get(job)) job->run();
//   // producer: if (!queue.post(job)) { /* closed: run or fail it yourself */ }
//   // owner:    queue.close(); then join the workers.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace platform {

template <class T>
class CompletionQueue {
 public:
  CompletionQueue() = default;
  CompletionQueue(const CompletionQueue&) = delete;
  CompletionQueue& operator=(const CompletionQueue&) = delete;

  // Queues `item` and wakes one waiting consumer. False (and the item is not
  // queued) once the queue is closed.
  bool post(T item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
      items_.push_back(std::move(item));
    }
    ready_.notify_one();
    return true;
  }

  // Blocks until an item is available and moves it to `out`. False when the
  // queue is closed and every queued item has been handed out.
  bool get(T& out) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return !items_.empty() || closed_; });
    if (items_.empty()) return false;
    out = std::move(items_.front());
    items_.pop_front();
    return true;
  }

  // Refuses further posts; consumers drain what is queued, then get() fails.
  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }

  bool closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }

  // Items posted and not yet taken.
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
  }

 private:
  mutable std::mutex mutex_;  // guards items_ and closed_
  std::condition_variable ready_;
  std::deque<T> items_;
  bool closed_ = false;
};

}  // namespace platform
