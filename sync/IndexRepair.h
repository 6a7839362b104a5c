// IndexRepair: the worker that completes uploads the service still lacks
// chunks for (an account the service marks "dirty"). It fetches the list of
// missing chunks, reads each one from the local file it came from and sends
// it again, in at most three passes. Started by the file syncer's sync
// thread at most once per run; stop() (from that thread's teardown) raises
// the stop flag and joins. The worker touches nothing of the sync context.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "varnelo/account.h"

namespace varnelo::sync {

class IndexRepair {
 public:
  static constexpr int kPassLimit = 3;

  IndexRepair() = default;
  ~IndexRepair() { stop(); }
  IndexRepair(const IndexRepair&) = delete;
  IndexRepair& operator=(const IndexRepair&) = delete;

  // Starts the worker unless one runs. `credentials` must outlive stop().
  void start(const varnelo_credentials* credentials, std::string localRoot, uint32_t chunkSize,
             uint32_t timeoutMs);
  // Raises the stop flag and waits for the worker.
  void stop();
  bool running() const { return thread_.joinable(); }

  // Chunks sent again by the last run (for tests and the log).
  int repaired() const { return repaired_.load(); }

 private:
  void work();
  // 200 sent; 404 cannot be supplied (file gone or changed); -103 stopping;
  // other codes leave the chunk for the next pass.
  int repairChunk(const std::string& serverPath, int64_t index, const uint8_t* key, int64_t size,
                  const std::string& url);

  std::thread thread_;
  std::atomic<bool> stop_{false};
  const varnelo_credentials* credentials_ = nullptr;
  std::string localRoot_;
  uint32_t chunkSize_ = 0;
  uint32_t timeoutMs_ = 3600000;
  std::atomic<int> repaired_{0};
};

}  // namespace varnelo::sync
