// The sync context: everything one run of the sync thread shares with the
// transfer paths (settings, credentials, local root, filter, journal, event
// sink, the updating and retry sets, the meters) and the completion reports
// that every file operation ends with. Made by the sync thread at the start
// of a run and destroyed at its end. The report functions run on the sync
// thread; flags and in-flight counters are atomic, so the application thread
// may pause or stop while a transfer runs, and the I/O threads may read them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>

#include "LocalListing.h"
#include "PathQueue.h"
#include "PlacedFiles.h"
#include "RecentUploads.h"
#include "SpeedMeter.h"
#include "SyncSettings.h"
#include "TransferRecord.h"
#include "TwinMemory.h"

namespace chunkcache {
class ChunkCache;
}

namespace varnelo {

class IVarneloEvent;

namespace sync {
class FileJournal;
class SyncFilter;
class SyncRoot;
class DeletionHold;
}  // namespace sync
namespace uploader {
class SmallUploads;
}
class RemoteHoldFile;
struct JournalNode;

// Bits of the sync mode.
enum SyncModeBits : int {
  kSyncLocalChanges = 1,   // upload direction
  kSyncRemoteChanges = 2,  // download direction
};

// A remote file or folder moved aside to be deleted (RemoteRemoval.h) whose
// deletion has not gone through yet: where it went, and what it held when it
// was found as last synced.
struct RemoteHold {
  std::string from;                  // remote path it was taken from
  std::array<uint8_t, 16> synced{};  // the journal's version of `from` then
  std::string path;                  // remote path of the entry taken aside
  int64_t size = 0;
  std::string editTime;
  std::optional<std::string> data;  // inline content, when a reply carried it
  // A folder: the journal's rows of `from` and below when it was taken
  // aside, what its entries must still be for it to go at once.
  std::shared_ptr<const JournalNode> folder;
  bool checked = false;  // found to be what was synced: only the delete is left
  // Known to have been moved. A hold an earlier run recorded before its
  // move, or one whose move got no answer, may never have left `from`: it
  // is finished only once something is found at `path`.
  bool moved = false;
};

class Context {
 public:
  struct Setup {
    int mode = kSyncLocalChanges | kSyncRemoteChanges;
    SyncSettings* settings = nullptr;  // not owned; outlives the context
    std::string localRoot;             // the sync folder, without a trailing "/"
    sync::SyncFilter* filter = nullptr;
    sync::FileJournal* journal = nullptr;
    IVarneloEvent* sink = nullptr;  // may be null
    // The sync folder's identity; null in tests of single transfers, where
    // the folder only has to exist.
    sync::SyncRoot* root = nullptr;
    // The big-delete guard; null where every deletion may go at once.
    sync::DeletionHold* deletions = nullptr;
    // Where remote entries taken aside are recorded until their deletion
    // went through; null where they are kept in memory only.
    RemoteHoldFile* holdFile = nullptr;
    // Shared with status objects, which may outlive the context.
    std::shared_ptr<MeterSet> uploadMeters = std::make_shared<MeterSet>();
    std::shared_ptr<MeterSet> downloadMeters = std::make_shared<MeterSet>();
    std::shared_ptr<TransferRecord> current = std::make_shared<TransferRecord>();
  };

  explicit Context(Setup setup);
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  int mode() const { return setup_.mode; }
  SyncSettings& settings() const { return *setup_.settings; }
  const varnelo_credentials* credentials() const { return setup_.settings->credentials; }
  const std::string& localRoot() const { return setup_.localRoot; }
  sync::SyncFilter& filter() const { return *setup_.filter; }
  sync::FileJournal& journal() const { return *setup_.journal; }
  chunkcache::ChunkCache* chunkCache() const { return setup_.settings->chunkCache; }
  IVarneloEvent* sink() const { return setup_.sink; }
  sync::DeletionHold* deletions() const { return setup_.deletions; }
  RemoteHoldFile* holdFile() const { return setup_.holdFile; }
  MeterSet& uploadMeters() const { return *setup_.uploadMeters; }
  MeterSet& downloadMeters() const { return *setup_.downloadMeters; }
  TransferRecord& current() const { return *setup_.current; }
  const Setup& setup() const { return setup_; }

  PathQueue& updating() { return updating_; }
  PathQueue& retry() { return retry_; }
  // Files the download path put in place, as it left them (thread safe).
  PlacedFiles& placedFiles() { return placedFiles_; }
  // Sync thread only: which local names lose to an earlier case twin.
  CaseTwinCache& caseTwins() { return caseTwins_; }
  // Sync thread only: which twin was last found to be the synced one.
  TwinMemory& twinMemory() { return twinMemory_; }
  // Sync thread only: files sent right after their last write, compared by
  // content while a write of the same size and time may have followed.
  RecentUploads& recentUploads() { return recentUploads_; }
  // Sync thread only: the small-file uploads in flight while the idle loop
  // hands over queued paths; null when uploads run one at a time.
  uploader::SmallUploads* smallUploads() const { return smallUploads_; }
  void setSmallUploads(uploader::SmallUploads* window) { smallUploads_ = window; }
  // Sync thread only: remote files and folders taken aside whose deletion
  // failed, by the journal path of the name they were taken from; a retry
  // finishes them. Recorded in holdFile() (when there is one), from which
  // a restarted engine reads them back.
  std::map<std::string, RemoteHold>& remoteHolds() { return remoteHolds_; }
  // Sync thread only: local paths whose latest upload the service refused
  // because another entry held the name (409), in path order. A conflict
  // waits for the remote pass, which keeps both versions; the pass also
  // sends again a file that has no journal row once the entry that held
  // its name is gone, since nothing else would until the next full scan.
  std::set<std::string>& refusedAsConflicts() { return conflicts_; }

  // Pausing and stopping both raise the paused flag; transfers poll it and
  // give up with -103 (a pause never waits for a transfer to end).
  bool isStopping() const { return paused_.load(std::memory_order_relaxed); }
  bool isPaused() const { return paused_.load(std::memory_order_relaxed); }
  void setPaused(bool paused) { paused_.store(paused); }

  int uploadsInFlight() const { return uploads_.load(); }
  int downloadsInFlight() const { return downloads_.load(); }

  // Start of an upload, remote folder creation or remote delete.
  void uploadStarted(const std::string& localPath);
  // End of one; reports to the sink and queues failures for a retry.
  void uploadDone(int code, const std::string& localPath);
  // Start of a download, local folder creation or local removal, and its
  // end (reported to the sink). Sync thread only.
  void downloadStarted(const std::string& localPath);
  void downloadDone(int code, const std::string& localPath);

  // 200 while the sync folder is the one synced before; -120 when it is
  // missing, -122 when another folder stands there. Checks again at every
  // call: deletions and the final move of a download ask right before they
  // act.
  int rootCheck();
  // The same answer from the folder's device and inode alone (the marker is
  // not read): only before work that changes nothing the user sees and is
  // followed by rootCheck() before anything is placed or removed, such as
  // creating a download's part file.
  int rootIdentityCheck();
  // False when `path` lies in a folder below the root that was a mount
  // point and is gone or no longer mounted (nothing there may be touched).
  bool pathAvailable(const std::string& path);
  // Local scan: whether the folder may be walked (remembers mount points).
  bool folderAvailable(const std::string& folder);

  // Asks the idle loop for a local scan on its next pass (one that only adds
  // to what is queued): for changes a single path cannot carry, such as a
  // case twin taking over the name of a deleted one. Any thread.
  void requestLocalScan() { scanRequested_.store(true); }
  bool takeLocalScanRequest() { return scanRequested_.exchange(false); }

  // A whole-pass or refusal result that is not tied to a transfer in flight
  // (unsupported names, a failed listing).
  void reportResult(int code, const std::string& localPath);
  // A local path that takes part in the sync: when its latest report was
  // -113 (the newcomer of two case twins that stays once the synced one
  // went, a refused spelling that a case-only rename of the synced entry
  // took over), it is reported in step, so that nobody goes on showing it
  // as left out. Costs a set lookup otherwise. True when it was left out.
  bool takesPart(const std::string& localPath);

 private:
  void reportIdleIfDone(int remaining);
  // Keeps `refused_` to the latest report of each path.
  void noteResult(int code, const std::string& localPath);

  Setup setup_;
  PathQueue updating_;
  PathQueue retry_;
  PlacedFiles placedFiles_;
  CaseTwinCache caseTwins_;
  TwinMemory twinMemory_;
  RecentUploads recentUploads_;
  uploader::SmallUploads* smallUploads_ = nullptr;  // sync thread only
  std::map<std::string, RemoteHold> remoteHolds_;   // sync thread only
  std::set<std::string> conflicts_;                 // sync thread only
  std::atomic<bool> paused_{false};
  std::atomic<bool> scanRequested_{false};
  std::atomic<int> uploads_{0};
  std::atomic<int> downloads_{0};
  // Local paths whose latest report was -113. Reports come from the sync
  // thread, but the lock keeps the set sound whichever thread reports.
  std::mutex refusedMutex_;
  std::unordered_set<std::string> refused_;  // guarded by refusedMutex_
};

}  // namespace varnelo
