#include "FileSyncer.h"

#include <strings.h>
#include <cinttypes>

#include <algorithm>
#include <cstdlib>

#include "Context.h"
#include "DeletionHold.h"
#include "EngineSqlite.h"
#include "FileJournal.h"
#include "JournalFiles.h"
#include "JournalRows.h"
#include "Log.h"
#include "MetaApi.h"
#include "RemoteHoldFile.h"
#include "RemoteWatch.h"
#include "StatusImpl.h"
#include "SyncPaths.h"
#include "SyncRoot.h"
#include "TempNames.h"
#include "TransferCodes.h"
#include "platform/files.h"
#include "platform/time.h"
#include "varnelo/IVarnelo.h"
#include "varnelo/meta.h"

namespace varnelo::sync {
namespace {

// Chunk sizes the service may announce; anything else keeps the default
// (a hostile size must not decide how much memory a transfer takes).
constexpr uint32_t kMaxServiceChunkSize = 64u << 20;

// Beside the journal: the recorded identity of the sync folder.
constexpr const char* kRootRecordName = "root.id";
// Remote entries taken aside whose deletion has not gone through yet.
constexpr const char* kRemoteHoldsName = "remote.holds";

// A whole number from the environment (test settings), or `fallback`.
uint32_t envNumber(const char* name, uint32_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value > 1000000000ul) return fallback;
  return static_cast<uint32_t>(value);
}

// A whole number from the engine's settings, or `fallback`.
uint32_t configNumber(SyncConfigInfo& config, const char* key, uint32_t fallback) {
  std::string text;
  if (config.get(key, text) != 200 || text.empty()) return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || value > 1000000000ul) return fallback;
  return static_cast<uint32_t>(value);
}

uint32_t envMillis(const char* name, uint32_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (*end != '\0' || value == 0 || value > 24ul * 3600 * 1000) return fallback;
  return static_cast<uint32_t>(value);
}

// I/O threads and small-file uploads in flight: twice the cores, at least
// the channel's usual 4 and at most 16 (the requests mostly wait on the
// service and the network, not on a core).
uint32_t filesInFlightFor(unsigned cores) {
  return std::clamp(2 * cores, 4u, 16u);
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// "/home/A/b" or "home/A/b" → "home/a/b".
std::string journalPathOfServerFolder(const std::string& serverPath) {
  std::string path = serverPath;
  while (!path.empty() && path.front() == '/') path.erase(path.begin());
  while (!path.empty() && path.back() == '/') path.pop_back();
  return journalPathOf(path);
}

}  // namespace

FileSyncer::~FileSyncer() {
  stop(false);
}

bool FileSyncer::accepts(const char* path) const {
  return path && filter_.accept(path);
}

void FileSyncer::queue(const char* path, const char* what) {
  if (!accepts(path)) return;
  std::lock_guard lock(lock_);
  if (!context_) return;
  log_write(kLogInfo, kModuleSync, "%s:[%s]", what, path);
  context_->updating().add(path);
}

void FileSyncer::onPathAdded(const char* path) {
  {
    // A folder the engine made and filled before the monitor watched it
    // is reported with all it holds, as added: what is there exactly as the
    // download placed it (the same file, of its size and time) is the
    // engine's own doing, like the placing rename it was not told of.
    std::lock_guard lock(lock_);
    if (context_ && path && isPlacedHere(path)) return;
  }
  queue(path, "path added event");
}

void FileSyncer::onPathModified(const char* path) {
  queue(path, "path modified event");
}

void FileSyncer::onPathRemoved(const char* path) {
  queue(path, "path removed event");
}

bool FileSyncer::isOwnPlacement(const char* oldPath, const char* newPath) const {
  // A download is put in place from the temporary folder, by a rename or by
  // a swap with the synced file it replaces (which moves that file into the
  // temporary folder). While the file at the synced name is as the engine
  // left it, the rename is all there is to the event: an edit made before
  // the engine's last look was already queued by it, and one made after
  // brings events of its own.
  const std::string temp = tempFolderPath(context_->localRoot());
  auto inTemp = [&](const char* path) { return std::string_view(path).starts_with(temp); };
  if (inTemp(oldPath) && !inTemp(newPath)) return isPlacedHere(newPath);
  if (inTemp(newPath) && !inTemp(oldPath)) return isPlacedHere(oldPath);
  return false;
}

bool FileSyncer::isPlacedHere(const char* path) const {
  // The engine suppresses the path before its rename and lets go of it
  // only after it noted the placed file. Asked in this order there is no
  // gap: a path no longer suppressed is noted. Asked the other way round,
  // a report read between the rename and the note would find neither once
  // the engine let go in between, and go on as a change.
  return context_->updating().isSuppressed(path) || context_->placedFiles().holdsAsPlaced(path);
}

void FileSyncer::onPathRenamed(const char* oldPath, const char* newPath) {
  if (!oldPath || !newPath) return;
  {
    std::lock_guard lock(lock_);
    if (context_ && isOwnPlacement(oldPath, newPath)) return;
  }
  if (!accepts(oldPath) && !accepts(newPath)) return;
  std::lock_guard lock(lock_);
  if (!context_) return;
  if (strcasecmp(oldPath, newPath) == 0) {
    // The service and the journal ignore case: nothing to send for what is
    // synced. But paths still queued under the old spelling (a new file, a
    // rename inside a renamed folder) no longer exist as written, so the
    // next pass scans the folder; it sends only what the journal lacks.
    log_write(kLogInfo, kModuleSync, "path case sensitive changed event, , from:[%s], to:[%s]",
              oldPath, newPath);
    if (idle_) idle_->requestRescan();
    return;
  }
  log_write(kLogInfo, kModuleSync, "path renamed event, from:[%s], to:[%s]", oldPath, newPath);
  // A side the filter keeps out (a download's part file placed from the
  // temporary folder, say) would only be refused again by every later step.
  // A name renamed out of what is synced is a deletion there.
  const bool oldAccepted = accepts(oldPath);
  const bool newAccepted = accepts(newPath);
  if (oldAccepted && newAccepted) {
    context_->updating().addRename(oldPath, newPath);
  } else if (oldAccepted) {
    context_->updating().add(oldPath);
  } else {
    context_->updating().add(newPath);
  }
}

void FileSyncer::onRescanNeeded(const char* directory) {
  if (directory) {
    // A folder below the sync folder whose mount changed: the upload path
    // weighs a folder against the journal's rows below it, as a scan does,
    // and remembers it as a mount point first, or holds it while its disk
    // is gone. The rest of the tree needs no walk.
    const std::string root = localRoot();
    const auto relative = relativeToRoot(root, directory);
    if (relative && !relative->empty()) {
      queue(directory, "folder mounted or unmounted, scanning it");
      return;
    }
  }
  std::lock_guard lock(lock_);
  if (!idle_) return;
  log_write(kLogWarning, kModuleSync, "changes below [%s] were lost, scanning again",
            directory ? directory : "");
  idle_->requestRescan();
}

void FileSyncer::setConfiguration(SyncConfigInfo* config) {
  std::vector<VolumeRecord> volumes;
  std::vector<std::string> excludes;
  if (config) {
    config->listVolumes(volumes);
    config->getExcludeDirs(excludes);
  }
  DeletionLimits limits;
  if (config) {
    limits.percent = configNumber(*config, "deleteHoldPercent", limits.percent);
    limits.minFiles = configNumber(*config, "deleteHoldFiles", limits.minFiles);
    limits.folderFiles = configNumber(*config, "deleteHoldFolderFiles", limits.folderFiles);
  }
  std::string root;
  {
    std::lock_guard lock(configMutex_);
    deletionLimits_ = limits;
    volumes_ = std::move(volumes);
    excludes_ = excludes;
    root = volumes_.empty() ? std::string() : withoutTrailingSlash(volumes_.front().localPath);
  }
  filter_.setFolders(root, excludes);
}

void FileSyncer::setJournalPath(const std::string& path) {
  std::lock_guard lock(configMutex_);
  journalPath_ = path;
}

void FileSyncer::setWatchProbe(IdleTask::WatchProbe probe) {
  std::lock_guard lock(configMutex_);
  probe_ = std::move(probe);
}

std::string FileSyncer::localRoot() const {
  std::lock_guard lock(configMutex_);
  return volumes_.empty() ? std::string() : withoutTrailingSlash(volumes_.front().localPath);
}

bool FileSyncer::joinIfEnding() {
  if (!thread_.joinable()) return true;
  bool ending;
  {
    std::lock_guard lock(lock_);
    ending = stopRequested_;
  }
  if (running_ && !ending) return false;
  thread_.join();  // a forced stop still ending, or a run that ended by itself
  return true;
}

void FileSyncer::start() {
  if (!joinIfEnding()) return;  // already syncing
  {
    std::lock_guard lock(lock_);
    stopRequested_ = false;
  }
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void FileSyncer::stop(bool force) {
  {
    std::lock_guard lock(lock_);
    stopRequested_ = true;
    if (context_) context_->setPaused(true);
    if (idle_) idle_->stop();
  }
  if (!force) join();
}

void FileSyncer::join() {
  if (thread_.joinable()) thread_.join();
}

void FileSyncer::setPaused(bool paused, bool recheckAll) {
  {
    std::lock_guard lock(lock_);
    if (!context_ || !idle_) return;
    context_->setPaused(paused);
    if (paused) {
      idle_->paused();
    } else {
      idle_->resumed(recheckAll);
    }
  }
  // Outside the lock: a sink that asks the engine for its status at once
  // must not wait on it.
  if (IVarneloEvent* sink = sink_) sink->statusChanged(paused ? kEnginePaused : kEngineIdle);
}

void FileSyncer::run() {
  if (IVarneloEvent* sink = sink_) sink->statusChanged(kEngineIdle);
  std::string journalPath;
  {
    std::lock_guard lock(configMutex_);
    journalPath = journalPath_;
  }
  const uint64_t began = platform::monotonicMillis();
  if (transformJournalDb(journalPath)) {
    std::lock_guard lock(configMutex_);
    journalPath_ = journalPath;
  }
  log_write(kLogInfo, kModuleSync, "transform db used: [%" PRIu64 "] seconds",
            (platform::monotonicMillis() - began) / 1000);

  FileJournal journal;
  // A damaged journal is set aside and the sync starts from an empty one,
  // as a full resynchronisation does: nothing is deleted on either side
  // without a row, and both versions of what differs are kept.
  if (const int rc = sqlite::openSettingDamagedAside(
          journalPath, [&] { return journal.open(journalPath); }, [&] { journal.close(); });
      rc != 0) {
    log_write(kLogError, kModuleSync, "open journal [%s] failed:[%d]", journalPath.c_str(), rc);
    log_location();
    // Said so, with its own code: without it the sync would end without a
    // word, and a pass-level -4 says much less.
    if (IVarneloEvent* sink = sink_) sink->result(kEngineJournalUnavailable, journalPath.c_str());
    running_ = false;
    return;
  }
  if (checkJournalVersion(journal) == kUnsupportedJournalVersion) {
    log_write(kLogError, kModuleSync, "journal [%s] is of a newer version, not syncing",
              journalPath.c_str());
    if (IVarneloEvent* sink = sink_) sink->result(kEngineJournalTooNew, nullptr);
  } else {
    runWithJournal(journal, journalPath);
  }
  journal.close();
  running_ = false;
}

void FileSyncer::runWithJournal(FileJournal& journal, const std::string& journalPath) {
  if (!settings_) {
    settings_ = std::make_unique<SyncSettings>();
    settings_->ioThreads = filesInFlightFor(std::thread::hardware_concurrency());
    settings_->filesInFlight = settings_->ioThreads;
  }
  // 1 sends small files one at a time (benchmarks compare the two).
  if (const uint32_t n = envMillis("VARNELO_FILES_IN_FLIGHT", 0); n > 0 && n <= 64) {
    settings_->filesInFlight = n;
    settings_->downloadsInFlight = n;
  }
  if (const uint32_t n = envMillis("VARNELO_IO_THREADS", 0); n > 0 && n <= 64) {
    settings_->ioThreads = n;
  }
  settings_->credentials = credentials_;
  settings_->chunkCache = chunkCache_;
  settings_->remotePollIntervalMs = envMillis("VARNELO_REMOTE_POLL_MS", 60000);
  settings_->retryIntervalMs = envMillis("VARNELO_RETRY_INTERVAL_MS", 120000);
  settings_->localScanIntervalMs = envMillis("VARNELO_LOCAL_SCAN_MS", 600000);

  const std::string root = localRoot();
  varnelo_meta_info_record info{};
  http::NotifyOffer notify;
  uint32_t inlineOffer = 0;
  http::PutBatchOffer putBatch;
  settings_->putBatchFiles = 0;
  if (const int rc = http::meta_info_notify(credentials_, &info, notify, &putBatch, &inlineOffer);
      rc == codes::kOk) {
    // Batches of small files, when the service takes them (and a batch
    // holds at least one file of the largest small size). VARNELO_PUT_BATCH
    // caps the files per batch; 0 sends each file on its own (tests and
    // benchmarks compare the two).
    const uint32_t cap = envNumber("VARNELO_PUT_BATCH", http::kMaxPutBatchFiles);
    if (putBatch.files > 0 && putBatch.bytes >= settings_->smallFileLimit && cap > 0) {
      settings_->putBatchFiles = std::min(static_cast<uint32_t>(putBatch.files), cap);
      settings_->putBatchBytes = static_cast<uint64_t>(putBatch.bytes);
    }
    if (info.chunkSize > 0 && info.chunkSize <= kMaxServiceChunkSize) {
      settings_->chunkSize = info.chunkSize;
    }
    if (info.dirty) {
      repair_.start(credentials_, root, settings_->chunkSize, settings_->requestTimeoutMs);
    }
  } else {
    log_write(kLogWarning, kModuleSync, "varnelo_meta_info failed:[%d], keeping defaults", rc);
  }
  // Small files whose bytes the listings carry need no request of their
  // own: asked for up to the size this engine sends in one request, which
  // is also never more than one chunk.
  // VARNELO_LISTED_CONTENT lowers it, 0 fetches each file on its own (tests
  // of that way; benchmarks compare the two).
  settings_->inlineLimit = std::min({inlineOffer, settings_->smallFileLimit, settings_->chunkSize,
                                     envNumber("VARNELO_LISTED_CONTENT", UINT32_MAX)});

  // The folder's identity: adopted when nothing has been synced yet (a first
  // sync, a full resynchronisation), compared with the record otherwise.
  SyncRoot syncRoot(
      root, platform::files::joinPath(platform::files::parentPath(journalPath), kRootRecordName));
  int64_t homeId = 0;
  std::vector<JournalEntry> top;
  const bool neverSynced = journal.lookupPath(kRemoteRoot, homeId) != 0 ||
                           journal.listChildren(homeId, top) != 0 || top.empty();
  syncRoot.begin(neverSynced, [&](const std::string& key) {
    int64_t id = 0;
    return journal.lookupChild(homeId, key, id) == 0;
  });

  DeletionLimits limits;
  {
    std::lock_guard lock(configMutex_);
    limits = deletionLimits_;
  }
  limits.percent = envNumber("VARNELO_DELETE_HOLD_PERCENT", limits.percent);
  limits.minFiles = envNumber("VARNELO_DELETE_HOLD_FILES", limits.minFiles);
  limits.folderFiles = envNumber("VARNELO_DELETE_HOLD_FOLDER_FILES", limits.folderFiles);
  DeletionHold deletions(limits);
  RemoteHoldFile holdFile(
      platform::files::joinPath(platform::files::parentPath(journalPath), kRemoteHoldsName));

  Context::Setup setup;
  setup.mode = mode_;
  setup.root = &syncRoot;
  setup.deletions = &deletions;
  setup.holdFile = &holdFile;
  setup.settings = settings_.get();
  setup.localRoot = root;
  setup.filter = &filter_;
  setup.journal = &journal;
  setup.sink = sink_;
  setup.uploadMeters = uploadMeters_;
  setup.downloadMeters = downloadMeters_;
  setup.current = current_;
  Context context(std::move(setup));
  // What an earlier run took aside and did not delete is finished by this
  // one (before its first remote pass, which would take it for new). A full
  // comparison (a first sync, a resynchronisation, a folder adopted as it is
  // now) deletes nothing: what was taken aside then stays on the service
  // under its conflicted-copy name.
  std::map<std::string, RemoteHold> holds = holdFile.load();
  if (neverSynced && !holds.empty()) {
    log_write(kLogWarning, kModuleSync,
              "full comparison: %zu entries taken aside by an earlier run are kept as "
              "conflicted copies",
              holds.size());
    holds.clear();
    holdFile.save(holds);
  }
  context.remoteHolds() = std::move(holds);
  IdleTask::WatchProbe probe;
  {
    std::lock_guard lock(configMutex_);
    probe = probe_;
  }
  IdleTask idle(
      context,
      {settings_->remotePollIntervalMs, settings_->retryIntervalMs, settings_->localScanIntervalMs},
      std::move(probe));
  {
    std::lock_guard lock(lock_);
    if (stopRequested_) {
      context.setPaused(true);
      idle.stop();
    }
    context_ = &context;
    idle_ = &idle;
    root_ = &syncRoot;
    deletions_ = &deletions;
  }
  // Remote changes are fetched when the service reports them, where it
  // offers to; the poll interval above stays the fallback. Tests that need
  // a computer to list only at its polls turn the watch off.
  RemoteWatch watch;
  const bool watchAllowed = envNumber("VARNELO_REMOTE_WATCH", 1) != 0;
  if (notify.offered && watchAllowed && (context.mode() & kSyncRemoteChanges)) {
    watch.start(credentials_, notify.cursor, notify.waitSeconds, [&idle] { idle.remoteChanged(); });
  }
  idle.run();
  watch.stop();
  {
    std::lock_guard lock(lock_);
    repair_.stop();
    context_ = nullptr;
    idle_ = nullptr;
    root_ = nullptr;
    deletions_ = nullptr;
    settings_->credentials = nullptr;
  }
}

int FileSyncer::applyExcludeChange(const std::vector<std::string>& oldDirs,
                                   const std::vector<std::string>& newDirs) {
  filter_.setFolders(localRoot(), newDirs);
  {
    std::lock_guard lock(configMutex_);
    excludes_ = newDirs;
  }
  std::string path;
  {
    std::lock_guard lock(configMutex_);
    path = journalPath_;
  }
  if (path.empty()) {
    log_write(kLogError, kModuleSync, "exclude change: no journal to apply it to");
    return codes::kLocalFailure;
  }
  // Nothing was ever synced: the journal knows nothing to forget.
  if (!platform::files::exists(path)) return codes::kOk;
  FileJournal journal;
  if (const int rc = journal.open(path, SQLITE_OPEN_READWRITE); rc != 0) {
    log_write(kLogError, kModuleSync, "exclude change: journal [%s] not opened:[%d]", path.c_str(),
              rc);
    return codes::kLocalFailure;
  }
  // One write transaction, its lock taken first: the sync thread writes to
  // the journal meanwhile, and a statement that writes after this one read
  // would otherwise meet a snapshot it moved on (SQLITE_BUSY_SNAPSHOT, with
  // no wait) and fail the change. All of it, or none of it, lands.
  auto batch = journal.batch();
  if (!batch.active()) {
    log_write(kLogError, kModuleSync, "exclude change: journal [%s] is busy", path.c_str());
    return codes::kLocalFailure;
  }
  int result = codes::kOk;
  const VersionSignature zero{};
  for (const std::string& dir : oldDirs) {
    // Folders that may be included again: every folder on the way down is
    // listed again by the next remote pass.
    const std::string full = journalPathOfServerFolder(dir);
    size_t end = 0;
    while (end != std::string::npos) {
      end = full.find('/', end + 1);
      const std::string prefix = full.substr(0, end);
      int64_t id = 0;
      if (journal.lookupPath(prefix, id) != 0 || !journal.isFolder(id)) break;
      if (const int rc = journal.setFolderSignature(prefix, zero); rc != 0) {
        log_write(kLogError, kModuleSync, "exclude change: marking [%s] failed:[%d]",
                  prefix.c_str(), rc);
        result = codes::kLocalFailure;
      }
    }
  }
  for (const std::string& dir : newDirs) {
    const std::string full = journalPathOfServerFolder(dir);
    if (full.empty() || full == "home") continue;  // never forget the whole tree
    int rc = journal.removePath(full);
    if (rc != 0 && rc != FileJournal::kNotFound) {
      log_write(kLogError, kModuleSync, "exclude change: removing [%s] failed:[%d]", full.c_str(),
                rc);
      result = codes::kLocalFailure;
    }
    // The folders above now cover on the service what the journal no
    // longer holds: their versions must not read as "all of it is here".
    if ((rc = markFoldersOutOfStep(journal, full)) != 0) {
      log_write(kLogError, kModuleSync, "exclude change: marking above [%s] failed:[%d]",
                full.c_str(), rc);
      result = codes::kLocalFailure;
    }
  }
  if (result != codes::kOk) {
    batch.rollBack();
  } else if (const int rc = batch.commit(); rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "exclude change: commit failed:[%d]", rc);
    result = codes::kLocalFailure;
  }
  journal.close();
  if (result != codes::kOk) return result;
  // What lies in a folder included again is only in the local folder when
  // it was written there meanwhile (or by another computer and since deleted
  // on the service): the remote listing alone never sends it.
  const std::string root = localRoot();
  for (const std::string& dir : oldDirs) {
    if (std::find(newDirs.begin(), newDirs.end(), dir) != newDirs.end()) continue;
    // The upload path weighs the folder against the journal's rows below
    // it, as a scan does; the rest of the tree needs no walk.
    // Only a folder that is here holds anything to send.
    const std::string folder = SyncFilter::localPathOfServerFolder(root, dir);
    if (!root.empty() && platform::files::isDirectory(folder))
      queue(folder.c_str(), "exclude change: folder included again, scanning it");
  }
  return result;
}

void FileSyncer::syncHolds(varnelo_sync_holds& out) {
  out = {};
  std::lock_guard lock(lock_);
  if (!context_ || !idle_ || !root_) return;
  out.folderUnavailable = root_->available() ? 0 : 1;
  if (deletions_) out.heldDeletions = deletions_->heldFiles();
  varnelo_sync_state state{};
  out.restInStep = out.heldDeletions > 0 && !out.folderUnavailable && caughtUp(state) ? 1 : 0;
}

bool FileSyncer::confirmDeletions() {
  std::lock_guard lock(lock_);
  if (!deletions_ || !idle_) return false;
  log_write(kLogInfo, kModuleSync, "held deletions confirmed: %" PRIu64 " files",
            deletions_->heldFiles());
  deletions_->confirm();
  idle_->deletionsConfirmed();
  return true;
}

bool FileSyncer::restoreDeletions() {
  std::lock_guard lock(lock_);
  if (!deletions_ || !idle_) return false;
  log_write(kLogInfo, kModuleSync, "held deletions kept: %" PRIu64 " files to bring back",
            deletions_->heldFiles());
  deletions_->restore();
  idle_->deletionsKept();
  return true;
}

bool FileSyncer::heldDeletions(std::vector<HeldDeletion>& out) {
  out.clear();
  std::lock_guard lock(lock_);
  if (!deletions_ || !context_) return false;
  const std::string& root = context_->localRoot();
  for (DeletionHold::Held& held : deletions_->list()) {
    HeldDeletion d;
    d.deletedHere = held.side == DeletionHold::Side::Local;
    d.files = held.files;
    // The local spelling where it is known, else the journal's (folded).
    if (auto rel = relativeToRoot(root, held.localPath); rel && !rel->empty()) {
      d.path = std::move(*rel);
    } else {
      const std::string prefix = std::string(kRemoteRoot) + "/";
      d.path = held.journalPath.rfind(prefix, 0) == 0 ? held.journalPath.substr(prefix.size())
                                                      : held.journalPath;
    }
    out.push_back(std::move(d));
  }
  return true;
}

IVarneloStatus* FileSyncer::newStatus() {
  std::lock_guard lock(lock_);
  if (!context_) return nullptr;
  return new StatusImpl(uploadMeters_, downloadMeters_, current_);
}

void FileSyncer::syncState(varnelo_sync_state& out) {
  out = {};
  std::lock_guard lock(lock_);
  out.running = running_ ? 1 : 0;
  if (!context_ || !idle_) return;
  // A folder that went away holds everything, and held deletions wait for
  // the user: in neither case are both sides in step.
  out.converged =
      caughtUp(out) && root_ && root_->available() && !(deletions_ && deletions_->heldFiles() > 0);
}

bool FileSyncer::caughtUp(varnelo_sync_state& out) {
  out.paused = context_->isPaused() ? 1 : 0;
  out.localScans = idle_->localScans();
  out.remotePasses = idle_->remotePasses();
  out.queued = context_->updating().size();
  out.retrying = context_->retry().size();
  out.inFlight = static_cast<uint64_t>(context_->uploadsInFlight() + context_->downloadsInFlight());
  const bool remoteDone = !(context_->mode() & kSyncRemoteChanges) || out.remotePasses > 0;
  return !idle_->workPending() && !out.paused && !idle_->busy() && out.localScans > 0 &&
         remoteDone && out.queued == 0 && out.retrying == 0 && out.inFlight == 0;
}

}  // namespace varnelo::sync
