// What the sync command shows and decides while the engine runs: the one
// status line for a terminal, and whether a `sync --once` is done. Pure
// functions of a snapshot; any thread. Called by the sync command's loop and
// by the unit tests.
#pragma once

#include <cstdint>
#include <string>

#include "varnelo/SyncState.h"

namespace varnelo::cli {

struct ProgressSnapshot {
  int32_t engineState = 0;  // kEngineIdle, kEngineUploading, ...
  bool inStep = false;      // the engine reports both sides converged
  std::string currentFile;  // empty when nothing is in transfer
  uint64_t currentTotal = 0;
  uint64_t currentDone = 0;
  uint64_t uploadSpeed = 0;  // bytes per second
  uint64_t downloadSpeed = 0;
  uint64_t uploaded = 0;
  uint64_t downloaded = 0;
  uint64_t failed = 0;
};

// "syncing  photos/a.jpg 45%  up 1.2 MB/s  down 0 B/s  | 12 up, 3 down", cut
// to at most `width` columns (the file name gives way first).
std::string formatStatusLine(const ProgressSnapshot& snapshot, size_t width);

// "512 B", "4.0 KiB", "1.5 MiB", ...
std::string formatBytes(uint64_t bytes);

enum class OnceProgress {
  Working,  // keep waiting
  InStep,   // both sides agree, nothing left to do
  Stuck,    // a full round is done, but files wait for a retry: report them
};

OnceProgress onceProgress(const varnelo_sync_state& state, bool uploadOnly);

}  // namespace varnelo::cli
