// Receivers for the monitor tests: they record what reaches them (on the
// dispatch thread) and let the test wait for a condition with a deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "CDirectoryChangeHandler.h"
#include "varnelo/IMonitorEvent.h"

namespace varnelo::test {

class EventLog {
 public:
  void push(std::string entry) {
    // Notified under the lock, so that a waiter that saw the entry may
    // destroy the log at once.
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    changed_.notify_all();
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  size_t count(const std::string& entry) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& e : entries_) n += e == entry;
    return n;
  }
  bool waitFor(const std::function<bool(const std::vector<std::string>&)>& done) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return done(entries_); });
  }
  bool waitForEntry(const std::string& entry) const {
    return waitFor([&](const auto& entries) {
      for (const auto& e : entries) {
        if (e == entry) return true;
      }
      return false;
    });
  }
  std::string text() const {
    std::string all;
    for (const auto& e : entries()) all += e + "\n";
    return all;
  }

 private:
  mutable std::mutex mutex_;  // guards entries_
  mutable std::condition_variable changed_;
  std::vector<std::string> entries_;
};

// Records IMonitorEvent calls as "added <path>", "renamed <old> -> <new>", ...
class RecordingSink : public IMonitorEvent {
 public:
  void onPathAdded(const char* path) override { log.push(std::string("added ") + path); }
  void onPathModified(const char* path) override { log.push(std::string("modified ") + path); }
  void onPathRemoved(const char* path) override { log.push(std::string("removed ") + path); }
  void onPathRenamed(const char* oldPath, const char* newPath) override {
    log.push(std::string("renamed ") + oldPath + " -> " + newPath);
  }
  void onRescanNeeded(const char* directory) override {
    log.push(std::string("rescan ") + directory);
  }
  EventLog log;
};

// Records watcher callbacks the same way; `onAdded` lets a test act from
// inside a callback.
class RecordingHandler : public monitor::CDirectoryChangeHandler {
 public:
  void NotifyAdded(const std::string& path) override {
    log.push("added " + path);
    if (onAdded) onAdded(path);
  }
  void NotifyRemoved(const std::string& path) override { log.push("removed " + path); }
  void NotifyModified(const std::string& path) override { log.push("modified " + path); }
  void NotifyRenamed(const std::string& oldPath, const std::string& newPath) override {
    log.push("renamed " + oldPath + " -> " + newPath);
  }
  void NotifyReadError(std::error_code error, const std::string& directory) override {
    log.push("error " + std::to_string(error.value()) + " " + directory);
  }
  void NotifyWatchStarted(std::error_code error, const std::string& directory) override {
    log.push("started " + std::to_string(error.value()) + " " + directory);
  }
  void NotifyWatchStopped(const std::string& directory) override {
    log.push("stopped " + directory);
  }
  bool AcceptChange(monitor::ChangeKind, const std::string& name, const std::string*) override {
    return !refuse || name.find(*refuse) == std::string::npos;
  }

  EventLog log;
  std::function<void(const std::string&)> onAdded;
  const std::string* refuse = nullptr;  // AcceptChange refuses names containing this
};

}  // namespace varnelo::test
