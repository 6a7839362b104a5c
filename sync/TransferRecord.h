// The file in transfer: its name, total size and bytes done, kept up to
// date by the transfer callbacks and read by status objects. Thread safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace varnelo {

class TransferRecord {
 public:
  // A new file starts: sets its name and total, clears the done count.
  void start(const std::string& name, uint64_t total) {
    std::lock_guard lock(mutex_);
    name_ = name;
    total_ = total;
    done_ = 0;
  }
  // Adds a delta; a negative delta rolls back a failed attempt's bytes.
  void progress(int64_t bytes) {
    std::lock_guard lock(mutex_);
    if (bytes < 0 && static_cast<uint64_t>(-bytes) > done_) {
      done_ = 0;
    } else {
      done_ += static_cast<uint64_t>(bytes);
    }
  }
  struct Snapshot {
    std::string name;
    uint64_t total = 0;
    uint64_t done = 0;
  };
  Snapshot snapshot() const {
    std::lock_guard lock(mutex_);
    return {name_, total_, done_};
  }

 private:
  mutable std::mutex mutex_;  // guards all three fields
  std::string name_;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
};

}  // namespace varnelo
