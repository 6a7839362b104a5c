// The application's event sink. The engine calls it from its sync thread
// (and, for the paused and running states, from the thread that pauses or
// resumes), so implementations only record state and hand work to their
// own threads. Paths are UTF-8. The engine never destroys the sink.
#pragma once

#include <cstdint>

namespace varnelo {

// Engine states reported through statusChanged.
enum EngineState : int32_t {
  kEngineIdle = 0,  // idle or running without transfers
  kEngineUploading = 1,
  kEngineDownloading = 2,
  kEnginePaused = 4,
};

// Per-file states reported through fileStateChanged.
enum FileState : int32_t {
  kFileInStep = 0,
  kFileUploading = 1,
  kFileDownloading = 2,
  kFileInUse = 4,  // could not be read now; retried later
  kFileConflict = 16,
  kFileFailed = 256,
};

class IVarneloEvent {
 public:
  virtual void downloaded(const char* path) = 0;
  virtual void uploaded(const char* path) = 0;
  virtual void statusChanged(int32_t state) = 0;
  virtual void fileStateChanged(const char* path, int32_t state) = 0;
  // One file operation's result (path may be null for whole-pass results).
  virtual void result(int32_t code, const char* path) = 0;

 protected:
  ~IVarneloEvent() = default;
};

}  // namespace varnelo
