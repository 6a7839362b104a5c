// The per-file callback of chunk tasks: the tasks of one file ask it whether
// the engine is stopping, report their progress (and roll it back when an
// attempt fails) and, on a conflict, ask whether both sides already hold
// the same content. Called concurrently from the I/O threads; implementations
// lock their own counters.
#pragma once

#include <cstdint>

#include "Channel.h"

namespace varnelo {

class IoCallback : public mthread::Channel::Task {
 public:
  // A file's transfer starts: its size, and the progress counters are reset.
  virtual void start(uint64_t totalBytes) = 0;
  // True when the engine is pausing or stopping; every task polls it.
  virtual bool isStopping() = 0;
  // `time` is a file time (or 0 for no speed sample); `bytes` a delta of
  // transferred bytes, negative to roll back a failed attempt.
  virtual void progress(uint64_t time, int64_t bytes) = 0;
  // True when the local and remote sides already hold the same content.
  virtual bool verifyConflict() = 0;
};

}  // namespace varnelo
