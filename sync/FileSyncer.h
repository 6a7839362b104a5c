// FileSyncer: the sync core. It receives the change monitor's events, runs
// the sync thread (journal migration and open, version check, service
// settings, the idle loop of IdleTask) and owns what lives across runs: the
// sync filter, the settings, the speed meters and the current-transfer
// record that status objects read.
//
// Threads: the engine calls the configuration and control operations from
// the application's thread, one at a time. Monitor events arrive on the
// monitor's dispatch thread; they reach the running context only under
// lock_, which the sync thread also holds while it tears the context down,
// so an event racing a stop is either queued or dropped.
//
// Test settings (read at every start, for end-to-end tests and benchmarks
// that cannot wait a minute): VARNELO_REMOTE_POLL_MS (default 60000),
// VARNELO_RETRY_INTERVAL_MS (default 120000) and VARNELO_LOCAL_SCAN_MS
// (default 600000, the full local scan that catches what the monitor missed).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ConfigInfo.h"
#include "DeletionHold.h"
#include "IdleTask.h"
#include "IndexRepair.h"
#include "SpeedMeter.h"
#include "SyncFilter.h"
#include "SyncSettings.h"
#include "TransferRecord.h"
#include "varnelo/IMonitorEvent.h"
#include "varnelo/IVarneloEvent.h"
#include "varnelo/IVarneloStatus.h"
#include "varnelo/SyncState.h"
#include "varnelo/account.h"

namespace chunkcache {
class ChunkCache;
}

namespace varnelo::sync {

class SyncRoot;

// One held deletion as the engine's list hands it out.
struct HeldDeletion {
  bool deletedHere = false;  // gone here (else gone from the service)
  std::string path;          // below the sync folder, "/" separated
  uint64_t files = 0;        // synced files it covers
};

class FileSyncer final : public IMonitorEvent {
 public:
  FileSyncer() = default;
  // Stops and waits for the sync thread.
  ~FileSyncer();
  FileSyncer(const FileSyncer&) = delete;
  FileSyncer& operator=(const FileSyncer&) = delete;

  // IMonitorEvent (dispatch thread).
  void onPathAdded(const char* path) override;
  void onPathModified(const char* path) override;
  void onPathRemoved(const char* path) override;
  void onPathRenamed(const char* oldPath, const char* newPath) override;
  void onRescanNeeded(const char* directory) override;

  // Configuration (application thread; takes effect at the next start
  // unless said otherwise).
  void setEventSink(IVarneloEvent* sink) { sink_ = sink; }
  void setCredentials(const varnelo_credentials* credentials) { credentials_ = credentials; }
  // Reads the volumes and the excluded folders and rebuilds the filter now.
  void setConfiguration(SyncConfigInfo* config);
  void setChunkCache(chunkcache::ChunkCache* cache) { chunkCache_ = cache; }
  void setJournalPath(const std::string& path);
  void setSyncMode(int mode) { mode_ = mode; }
  // Asked by the idle loop whether the sync folder is watched.
  void setWatchProbe(IdleTask::WatchProbe probe);

  // Control (application thread).
  void start();
  // Raises the paused flag and ends the loop; without force waits for the
  // thread. A forced stop keeps the thread to be joined later (start,
  // join, destruction), so the engine never goes before it.
  void stop(bool force);
  void join();
  // Joins a thread that has ended or is ending after a stop; true when no
  // sync thread runs afterwards (false: a sync is running and goes on).
  bool joinIfEnding();
  void setPaused(bool paused, bool recheckAll);
  bool isRunning() const { return running_.load(); }

  // Forgets what the journal knows below the newly excluded folders and
  // makes the folders no longer excluded listed again; rebuilds the filter.
  // Uses a second journal connection. 200 (also when no journal exists
  // yet), or -4 when the journal cannot be opened or changed.
  int applyExcludeChange(const std::vector<std::string>& oldDirs,
                         const std::vector<std::string>& newDirs);

  // A status object over the meters and the current-transfer record; null
  // when no sync runs.
  IVarneloStatus* newStatus();
  void syncState(varnelo_sync_state& out);
  void syncHolds(varnelo_sync_holds& out);
  // Releases the deletions held back as too many; false when no sync runs.
  bool confirmDeletions();
  // The other answer: brings back what is held (see DeletionRestore); false
  // when no sync runs.
  bool restoreDeletions();
  // What is held now, with each local path below the sync folder; false
  // when no sync runs.
  bool heldDeletions(std::vector<HeldDeletion>& out);

  SyncFilter& filter() { return filter_; }

 private:
  void run();
  void runWithJournal(FileJournal& journal, const std::string& journalPath);
  // Under lock_ with a context: fills the counters of `out`; true when the
  // engine has caught up apart from what it holds.
  bool caughtUp(varnelo_sync_state& out);
  // Queues `path` in the running context when the filter accepts it.
  void queue(const char* path, const char* what);
  bool accepts(const char* path) const;
  // Under lock_ with a context: true when the rename is the download path
  // putting a file in place, and the file is still as it was placed.
  bool isOwnPlacement(const char* oldPath, const char* newPath) const;
  // Under lock_ with a context: the file at `path` is one the download
  // path is placing, or placed and left as it is.
  bool isPlacedHere(const char* path) const;
  std::string localRoot() const;

  std::atomic<IVarneloEvent*> sink_{nullptr};
  const varnelo_credentials* credentials_ = nullptr;
  chunkcache::ChunkCache* chunkCache_ = nullptr;
  std::atomic<int> mode_{3};
  SyncFilter filter_;

  // Guards journalPath_, volumes_, excludes_, deletionLimits_ and probe_ (read by the sync
  // thread at its start, written by the application thread).
  mutable std::mutex configMutex_;
  std::string journalPath_;
  std::vector<VolumeRecord> volumes_;
  std::vector<std::string> excludes_;
  IdleTask::WatchProbe probe_;
  DeletionLimits deletionLimits_;

  std::unique_ptr<SyncSettings> settings_;  // sync thread, made on the first run
  IndexRepair repair_;                      // started and stopped by the sync thread
  std::shared_ptr<MeterSet> uploadMeters_ = std::make_shared<MeterSet>();
  std::shared_ptr<MeterSet> downloadMeters_ = std::make_shared<MeterSet>();
  std::shared_ptr<TransferRecord> current_ = std::make_shared<TransferRecord>();

  // The file syncer's lock: guards context_, idle_, root_, deletions_ and stopRequested_
  // against the sync thread's teardown. Held briefly, never while waiting
  // (except for the index repair worker's join at teardown).
  std::mutex lock_;
  Context* context_ = nullptr;
  IdleTask* idle_ = nullptr;
  SyncRoot* root_ = nullptr;
  DeletionHold* deletions_ = nullptr;
  bool stopRequested_ = false;

  std::thread thread_;  // application thread only
  std::atomic<bool> running_{false};
};

}  // namespace varnelo::sync
