// VarneloImpl: the engine object behind varnelo_new / varnelo_new2. It owns
// the configuration store, the file syncer, the change monitor, the chunk
// cache and the credentials, and implements IVarnelo and IVarnelo2 (both
// reach the same engine) and, privately, IChunkCache.
//
// Threads: the application calls the operations one at a time; the file
// syncer's thread and the monitor's dispatch thread run underneath.
// release() stops the sync and waits for its thread, also one a forced stop
// left ending, so the engine is never destroyed under a running thread.
// The process-wide I/O channel is not shut down with the last engine: a
// later engine in the same process (a new sign-in, the tests) would find it
// closed. Its own shutdown runs when the library is unloaded.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ChunkCache.h"
#include "ConfigInfo.h"
#include "FileSyncer.h"
#include "varnelo/IMonitor.h"
#include "varnelo/IVarnelo2.h"

namespace varnelo {
class WinMonitor;
}

namespace varnelo::sync {

class VarneloImpl final : public IVarnelo, public IVarnelo2, private IChunkCache {
 public:
  // `dataFolder` must exist; it gets one trailing "/".
  explicit VarneloImpl(const std::string& dataFolder);
  VarneloImpl(const VarneloImpl&) = delete;
  VarneloImpl& operator=(const VarneloImpl&) = delete;

  void release() override;
  int32_t loginWithSavedToken(const varnelo_token_pair* consumer) override;
  int32_t login(const char* user, const varnelo_token_pair* consumer,
                const varnelo_token_pair* access) override;
  const varnelo_credentials* getSession() override { return credentials_; }
  IChunkCache* getChunkCache() override { return this; }
  int32_t mountVolume(const char* serverPath, const char* localPath) override;
  int32_t startSync(bool resyncAll) override;
  int32_t stopSync(bool force) override;
  int32_t pauseSync() override;
  int32_t resumeSync(bool recheckAll) override;
  int32_t unlinkAccount() override;
  int32_t setSyncMode(int32_t mode) override;
  int32_t getSyncMode() override;
  int32_t setEventSink(IVarneloEvent* sink) override;
  int32_t getStatus(IVarneloStatus** out) override;

  int32_t getVolumes(IVolumes** out) override;
  int32_t setExcludeDirs(const char* const* dirs, uint32_t count) override;
  int32_t getExcludeDirs(IExcludeDirs** out) override;

  const std::string& dataFolder() const { return dataFolder_; }
  void syncState(varnelo_sync_state& out) { syncer_.syncState(out); }
  void syncHolds(varnelo_sync_holds& out) { syncer_.syncHolds(out); }
  int32_t confirmDeletions() { return syncer_.confirmDeletions() ? kEngineOk : kEngineNotRunning; }
  int32_t restoreDeletions() { return syncer_.restoreDeletions() ? kEngineOk : kEngineNotRunning; }
  bool heldDeletions(std::vector<HeldDeletion>& out) { return syncer_.heldDeletions(out); }
  // The change monitor, for tests and diagnostics.
  WinMonitor& monitor() { return *watcher_; }

 private:
  ~VarneloImpl();
  int32_t open(const char* indexPath, const char* cacheFolder) override;
  int32_t close() override;

  int32_t openConfig();
  int32_t checkSignIn();
  void freeCredentials();
  bool watching() const;
  // journal.db while an old one waits for its migration, else basefs.db.
  std::string journalPath() const;

  IVarneloEvent* sink_ = nullptr;
  std::string dataFolder_;
  varnelo_credentials* credentials_ = nullptr;
  SyncConfigInfo config_;
  FileSyncer syncer_;
  struct MonitorRelease {
    void operator()(IMonitor* monitor) const { monitor->release(); }
  };
  std::unique_ptr<IMonitor, MonitorRelease> monitor_;
  WinMonitor* watcher_ = nullptr;  // the same object as monitor_, for the watch probe
  chunkcache::ChunkCache cache_;

  // Guards watchedDirs_: written by startSync, read by the sync thread's
  // watch probe.
  mutable std::mutex watchedMutex_;
  std::vector<std::string> watchedDirs_;
};

}  // namespace varnelo::sync
