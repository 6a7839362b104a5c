// Settings of one sync run, made with defaults on the first run and kept;
// the chunk size is replaced by the service's when it announces one. Written
// by the sync thread before any transfer starts, read by the transfer tasks.
#pragma once

#include <cstdint>

namespace chunkcache {
class ChunkCache;
}

struct varnelo_credentials;

namespace varnelo {

struct SyncSettings {
  const varnelo_credentials* credentials = nullptr;  // rewritten at every run
  uint32_t chunkSize = 4194304;                      // the service's when above 0
  uint32_t value4096 = 4096;                         // handed to the transfer tasks
  uint32_t requestTimeoutMs = 3600000;               // transfer tasks and address requests
  uint32_t attempts = 3;                             // per chunk
  uint32_t remotePollIntervalMs = 60000;             // between two remote passes
  uint32_t retryIntervalMs = 120000;                 // between two retry flushes
  uint32_t localScanIntervalMs = 600000;             // between two full local scans
  uint32_t ioThreads = 4;                            // worker channel threads
  uint32_t filesInFlight = 4;                        // small-file uploads at once
  // Small files coming down at once, each on a thread of the pass's own:
  // such a transfer mostly waits for its part file to reach the disk, and
  // the disk takes many of those flushes together.
  uint32_t downloadsInFlight = 16;
  uint32_t smallFileLimit = 16384;  // 1..limit bytes go up in one request
  uint32_t inlineLimit = 0;    // 1..limit bytes come with their listing; 0: the service offers none
  uint32_t putBatchFiles = 0;  // small files per batched put; 0: the service offers none
  uint64_t putBatchBytes = 0;  // content bytes per batched put
  int partVersion = 2;         // in temporary download names
  chunkcache::ChunkCache* chunkCache = nullptr;  // the engine's, not owned
};

}  // namespace varnelo
