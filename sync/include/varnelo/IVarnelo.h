// IVarnelo: the sync engine as the application drives it, made by
// varnelo_new. Calling order: setEventSink; login or loginWithSavedToken;
// mountVolume; optionally setSyncMode; startSync; then pause, resume and
// getStatus at will; stopSync; release. Calls come from the application's
// threads one at a time (the engine does not serialise concurrent calls);
// the event sink is called from the engine's sync thread.
#pragma once

#include <cstdint>

#include "varnelo/IChunkCache.h"
#include "varnelo/IVarneloEvent.h"
#include "varnelo/IVarneloStatus.h"
#include "varnelo/account.h"
#include "varnelo/export.h"

namespace varnelo {

// Result codes of the engine besides the service's (200, 401, 404, ...).
enum EngineResult : int32_t {
  kEngineOk = 200,
  kEngineNotRunning = 404,      // getStatus without a running sync; absent key
  kEngineStoreFailed = -4,      // config.db or the chunk cache cannot be used
  kEngineNoDataFolder = -101,   // the factory's data folder does not exist
  kEngineNoVolume = -104,       // getVolumes: nothing mounted
  kEngineNoSavedToken = -105,   // loginWithSavedToken: no stored access token
  kEngineNotSignedIn = -117,    // sign-in check without credentials
  kEngineJournalTooNew = -118,  // the journal was written by a newer engine
  // The sync folder is missing (an unmounted disk, a moved folder). Nothing
  // is uploaded, downloaded or deleted, and the engine never creates it;
  // reported once through the event sink (path: the folder), checked again
  // every remote poll interval, and syncing resumes by itself when it is
  // back. Do not retry: wait, or mount the folder.
  kEngineSyncRootMissing = -120,
  kEngineWatchUnavailable = -121,  // the folder cannot be watched (inotify limit
                                   // reached): changes are found by a local scan
                                   // every remote poll interval instead
  // The folder at the sync folder's path is not the one synced before: its
  // marker file (".varnelo-root") is missing or different, or its device or
  // inode changed (an empty mount point, a replaced folder), or a mount
  // point below it went away (path: that folder). Handled like -120: nothing
  // is touched, checked again every poll interval, resumes by itself when
  // the identity is back. Only the user may adopt the folder as it is now:
  // startSync(true), a full comparison that deletes nothing on either side.
  kEngineFolderUnavailable = -122,
  // A local scan or remote pass would delete more than the configured share
  // of the synced files (default: more than 30 % and more than 20 files), or
  // a whole top-level folder of more than 1,000 files. Those deletions are
  // held (nothing is deleted, everything else goes on); reported through the
  // event sink with no path after each pass that holds any. Released only by
  // varnelo_confirm_deletions (SyncState.h).
  kEngineDeletionsHeld = -123,
  // The journal (basefs.db in the data folder) can be neither opened nor
  // created: a full or read-only disk, no permission. The sync thread ends
  // at once without touching anything; reported through the event sink
  // (path: the journal file). Start the sync again once the cause is mended.
  kEngineJournalUnavailable = -124,
};

// Bits of the sync mode (setSyncMode).
enum EngineSyncMode : int32_t {
  kEngineUploadOnly = 1,  // process local changes
  kEngineDownload = 2,    // fetch remote changes
  kEngineTwoWay = 3,
};

class IVarnelo {
 public:
  // Stops the sync (waiting for it) and destroys the engine.
  virtual void release() = 0;
  // Signs in with the access token stored by an earlier login. 200, -105,
  // 404 (nothing stored), or the service's code.
  virtual int32_t loginWithSavedToken(const varnelo_token_pair* consumer) = 0;
  // Signs in and stores the access token (never the consumer token).
  virtual int32_t login(const char* user, const varnelo_token_pair* consumer,
                        const varnelo_token_pair* access) = 0;
  virtual const varnelo_credentials* getSession() = 0;
  virtual IChunkCache* getChunkCache() = 0;
  // Records the pair server folder ("home") / local folder and watches it.
  virtual int32_t mountVolume(const char* serverPath, const char* localPath) = 0;
  // resyncAll discards the journal first (a full comparison of both sides).
  virtual int32_t startSync(bool resyncAll) = 0;
  // Without force, waits for the sync thread to end.
  virtual int32_t stopSync(bool force) = 0;
  // Stops after the file in hand; transfers of that file give up.
  virtual int32_t pauseSync() = 0;
  // recheckAll makes the next remote pass list every folder.
  virtual int32_t resumeSync(bool recheckAll) = 0;
  // Stops and forgets the account: config.db and the journals are emptied.
  virtual int32_t unlinkAccount() = 0;
  virtual int32_t setSyncMode(int32_t mode) = 0;
  virtual int32_t getSyncMode() = 0;
  virtual int32_t setEventSink(IVarneloEvent* sink) = 0;
  // 200 and a new status object, or 404 (out null) when no sync runs.
  virtual int32_t getStatus(IVarneloStatus** out) = 0;

 protected:
  ~IVarnelo() = default;
};

}  // namespace varnelo

// Makes an engine over `dataFolder` (an existing folder, UTF-8). 200 and the
// engine; -101 (out untouched) when the folder does not exist; 499 for null.
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_new(const char* dataFolder, varnelo::IVarnelo** out);
