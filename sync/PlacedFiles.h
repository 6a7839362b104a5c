// The files the download path has just put in place, each with the state
// it left it in. The monitor reports the rename that placed a file (from the
// engine's temporary folder) some time after the engine recorded it; while
// the file is exactly as placed, that report is the engine's own doing and
// need not go through the upload path again, which would only find it
// unchanged. A file that differs in any way (another file at the name, or
// of another type, size or time) is a change and goes on as one. Bounded: the older half is
// forgotten when the newer one fills, so that a monitor running behind by thousands of files loses
// none of the latest; a report of a forgotten file goes on as a change.
// Written on the sync thread, read on the monitor's; thread safe.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/files.h"

namespace varnelo {

class PlacedFiles {
 public:
  static constexpr size_t kLimit = 16384;

  // `state` is the placed file's as the engine recorded it in the journal
  // (read from its part file right before the rename).
  void note(const std::string& path, const platform::files::EntryInfo& state);
  // True when `path` was noted and a stat of it now gives the same file in
  // the same state.
  bool holdsAsPlaced(const std::string& path) const;

 private:
  using States = std::unordered_map<std::string, platform::files::EntryInfo>;
  mutable std::mutex mutex_;  // guards newer_ and older_
  States newer_;              // at most kLimit / 2; a path noted again is looked up here first
  States older_;
};

}  // namespace varnelo
