// Puts a finished download at its name in one step, replacing only what the
// engine decided to replace. Used by the download path on the sync thread.
#pragma once

#include <optional>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/time.h"

namespace varnelo::downloader {

// True when both describe the same kind, size and last-write time.
inline bool sameState(const platform::files::EntryInfo& a, const platform::files::EntryInfo& b) {
  return a.type == b.type && a.size == b.size && a.lastWrite == b.lastWrite;
}

// sameState, and the same file: another one put at the name with equal size
// and time (a copy that kept its times, an atomic save) is not it. A rename
// moves the change time, so it is not compared here.
inline bool sameFile(const platform::files::EntryInfo& a, const platform::files::EntryInfo& b) {
  return sameState(a, b) && a.inode == b.inode;
}

struct Placement {
  // The size and time the file system stored for the engine's file, read
  // before it took the name: once it has, the user may write to it, and what
  // the journal records must be the engine's file, never a later edit.
  platform::files::EntryInfo placed;
  // Set only when a swap could not be undone: where the user's file that
  // held the name was kept instead (its conflicted-copy name, to be sent).
  std::string keptCopy;
};

// Renames the finished part file `part` to `target`, where the engine last
// saw `expected`: nothing (then only while nothing stands there), or a file
// it may replace. Where the file system can swap two names, the file that
// held the name is looked at once it is out of the way: unless it is still
// exactly `expected` (sameFile), the swap is undone and the user's file keeps its name
// (EEXIST, as when a new file took a free name meanwhile). A folder that is
// another file system's mount point cannot take a rename from the temporary
// folder: the file is then copied beside the target first (given `time`,
// flushed to disk) and placed from there, still in one step.
std::error_code placeFile(const std::string& part, const std::string& target,
                          const platform::files::EntryInfo& expected,
                          std::optional<platform::FileTime> time, Placement& out);

}  // namespace varnelo::downloader
