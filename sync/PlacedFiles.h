// The files the download path has just put in place, each with the state
// it left it in. The monitor reports the rename that placed a file (from the
// engine's temporary folder) some time after the engine recorded it; while
// the file is exactly as placed, that report is the engine's own doing and
// need not go through the upload path again, which would only find it
// unchanged. A file that differs in any way (type, size, time) is a change
// and goes on as one. Bounded: when full, everything is forgotten and
// reports go on as changes. Written on the sync thread, read on the
// monitor's; thread safe.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/files.h"

namespace varnelo {

class PlacedFiles {
 public:
  static constexpr size_t kLimit = 4096;

  // `state` is the placed file's as the engine recorded it in the journal
  // (read from its part file right before the rename).
  void note(const std::string& path, const platform::files::EntryInfo& state);
  // True when `path` was noted and a stat of it now gives the same state.
  bool holdsAsPlaced(const std::string& path) const;

 private:
  mutable std::mutex mutex_;  // guards states_
  std::unordered_map<std::string, platform::files::EntryInfo> states_;
};

}  // namespace varnelo
