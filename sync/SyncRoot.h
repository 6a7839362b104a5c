// SyncRoot: the identity of the sync folder, so that an unmounted, replaced
// or moved folder is never taken for "the user deleted everything". The
// folder is known by its device, its inode and a random id in a hidden
// marker file inside it (never synchronised: its name starts with a dot).
// The identity is recorded in a small file of the data folder when the
// folder is first synced; afterwards a folder whose marker is missing or
// different, or whose device or inode changed, is unavailable: nothing is
// uploaded, downloaded or deleted until the identity is back, or until the
// user adopts the folder as it is now (a full resynchronisation, which
// deletes nothing).
//
// Folders below the root that were mount points (on another device or
// mount than their parent, a bind mount included) are remembered too: when
// such a folder is gone or lies on its parent's mount again (its mount went
// away), it is unavailable in the same way and never read as deleted.
//
// Used by the sync thread only (begin, check and the folder tests); the
// last answer of check() may be read from any thread.
//
//   SyncRoot root(localRoot, dataFolder + "root.id");
//   if (root.begin(journalIsEmpty, knows) == RootState::Available) ...
//   if (root.check() != RootState::Available) { /* hold everything */ }
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_id.h"

namespace varnelo::sync {

enum class RootState {
  Available,
  Missing,      // the folder does not exist (or is no folder)
  Unavailable,  // another folder stands there: marker or device/inode differ
};

class SyncRoot {
 public:
  // Name of the marker file inside the sync folder.
  static constexpr const char* kMarkerName = ".varnelo-root";

  // `root`: the sync folder, without a trailing "/"; `recordPath`: the file
  // that remembers its identity.
  SyncRoot(std::string root, std::string recordPath);
  SyncRoot(const SyncRoot&) = delete;
  SyncRoot& operator=(const SyncRoot&) = delete;

  // At the start of a run. When nothing has been synced yet (`neverSynced`,
  // also after a full resynchronisation) the folder as it is now is
  // adopted: the marker is made when missing and the identity recorded. A
  // journal written before identities were recorded adopts the folder when
  // it holds a marker or at least one top-level name that `knowsName`
  // (lower-cased name) finds in the journal. Otherwise compares as check().
  RootState begin(bool neverSynced, const std::function<bool(const std::string&)>& knowsName);

  // Compares the folder with the recorded identity: two lstat calls and one
  // read of the small marker file.
  RootState check();
  // The cheaper half of check(): one lstat, the folder's device and inode
  // against the recorded ones; the marker is not read. It catches an
  // unmounted disk, a folder moved away or deleted and another one put in
  // its place, but not a marker removed or changed in the same folder, so
  // it stands in for check() only before work that places and removes
  // nothing the user sees and is followed by a check() before it does.
  // Does what check() does while nothing is recorded for the run or while
  // the last answer was not Available.
  RootState sameFolder();

  // The answer of the last begin() or check(); any thread.
  bool available() const { return available_.load(); }

  // Local scan: whether the folder `folder` (below the root) may be walked.
  // A folder found on another device or mount than its parent is
  // remembered as a mount point; one remembered that is gone or back on its
  // parent's mount is not available.
  bool folderAvailable(const std::string& folder);
  // Whether no remembered mount point at or above `path` has gone. Costs
  // nothing while no mount point is remembered.
  bool pathAvailable(const std::string& path);

  const std::string& path() const { return root_; }

 private:
  struct Record {
    platform::files::FileId id;
    std::string marker;
    std::vector<std::string> mounts;  // relative to the root
  };
  bool readRecord(Record& out) const;
  bool writeRecord() const;
  bool readMarker(std::string& out) const;
  RootState adopt(const platform::files::FileId& id, const std::string& marker);
  // begin()'s work, again from check() while nothing is recorded for the run.
  RootState identify();
  bool mountHolds(const std::string& relative) const;
  RootState set(RootState state);

  const std::string root_;
  const std::string recordPath_;
  Record record_;  // sync thread only
  bool haveRecord_ = false;
  bool neverSynced_ = false;
  std::function<bool(const std::string&)> knowsName_;
  std::atomic<bool> available_{false};
};

}  // namespace varnelo::sync
