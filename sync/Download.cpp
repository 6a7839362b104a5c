#include "Download.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <unordered_set>

#include "ArrivedContent.h"
#include "ChunkCache.h"
#include "ChunkKeys.h"
#include "CommitIntent.h"
#include "ConflictNames.h"
#include "DeletionBatch.h"
#include "DeletionHold.h"
#include "DownloadWindow.h"
#include "FileJournal.h"
#include "FolderJob.h"
#include "IoDownload.h"
#include "JournalRows.h"
#include "LocalListing.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "MetaApi.h"
#include "PlaceFile.h"
#include "PlacementBatch.h"
#include "RemoteRemoval.h"
#include "SortedMerge.h"
#include "SyncFilter.h"
#include "SyncPaths.h"
#include "TempNames.h"
#include "TransferCodes.h"
#include "TwinBinding.h"
#include "Upload.h"
#include "platform/files.h"

namespace varnelo::downloader {

namespace files = platform::files;

namespace {

// One element of a folder listing, checked.
struct RemoteEntry {
  std::string name;
  std::string key;  // nameKey(name)
  bool folder = false;
  Signature ver{};
  uint64_t size = 0;
};

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

bool sameSignature(const Signature& a, const Signature& b) {
  return a == b;
}

// Moves a local entry out of the way under its conflicted-copy name and
// queues the copy for upload. 0 or the rename's error.
std::error_code moveAside(Context& context, const std::string& localPath) {
  const std::string copy = conflictedCopyPath(localPath);
  if (auto ec = files::renameNoReplace(localPath, copy)) return ec;
  log_write(kLogInfo, kModuleSync, "conflicted copy made:[%s]", copy.c_str());
  context.updating().add(copy);
  return {};
}

// The part files the temporary folder held when a pass first placed a
// file. Only these can be of an older version of a file the pass places
// (its own part files are named for the versions it fetches and leave when
// placed), so the folder is listed once per pass instead of once per file.
struct PartLeftovers {
  bool listed = false;
  std::vector<std::string> names;
};

// Settles the pass's batch of placed files (only when it is due, unless
// `now`); a folder that could not be flushed is reported.
void settlePlacements(Context& context, PlacementBatch& placements, bool now) {
  std::string failed;
  const std::error_code ec = now ? placements.settle(&failed) : placements.settleIfDue(&failed);
  if (ec) context.reportResult(codes::kLocalFailure, failed);
}

// Completion of one download; also the callback its chunk tasks report to.
class DownloadFileCallback final : public TransferCallback {
 public:
  // `window` holds the downloads in flight beside this one, or is null.
  DownloadFileCallback(Context& context, DownloadJob& job, const DownloadWindow* window,
                       PartLeftovers& leftovers, ArrivedContent& arrived,
                       PlacementBatch& placements)
      : TransferCallback(context, context.downloadMeters(), job.localPath),
        job_(job),
        window_(window),
        leftovers_(leftovers),
        arrived_(arrived),
        placements_(placements) {}

  // True when the local file already holds exactly the remote version.
  bool verifyConflict() override {
    files::EntryInfo info;
    if (files::stat(job_.localPath, info) || info.type != files::EntryType::File ||
        info.size != job_.remoteSize)
      return false;
    if (info.size == 0) return true;
    std::vector<ChunkKey> keys;
    return !job_.keys.empty() &&
           computeChunkKeys(job_.localPath, info.size, job_.chunkSize, keys) == codes::kOk &&
           keys == job_.keys;
  }

  // Makes the finished part file durable: its size checked, flushed to
  // disk, closed and given the remote time. Touches only the part file, so
  // a download in flight does it on its I/O thread; 200 or -4 (a part file
  // of the wrong size is removed).
  int seal(platform::File& temp) {
    uint64_t size = 0;
    if (temp.size(size) || size != job_.remoteSize) {
      log_write(kLogError, kModuleSync, "downloaded size differs:[%s]", job_.localPath.c_str());
      temp.close();
      files::removeFile(job_.tempPath);
      return codes::kLocalFailure;
    }
    if (temp.sync()) return codes::kLocalFailure;
    temp.close();
    if (job_.remoteTime) files::setLastWriteTime(job_.tempPath, *job_.remoteTime);
    sealed_ = true;
    return codes::kOk;
  }

  // Whether the part file's disk lacks the space for the rest of the file
  // and a little more (a full disk, which a failed write most often means).
  // What the part holds is its blocks, not its size: chunks written out of
  // order leave holes, and a part whose last chunk landed first has the
  // whole size while most of it is still to be written. A complete part
  // file needs no more space to be placed: it stays.
  bool noRoomToFinish() const {
    constexpr uint64_t kSpare = 1 << 20;
    uint64_t held = 0, available = 0;
    if (files::allocatedSpace(job_.tempPath, held) || held == 0 ||
        files::availableSpace(files::parentPath(job_.tempPath), available))
      return false;
    const uint64_t rest = job_.remoteSize > held ? job_.remoteSize - held : 0;
    return rest > 0 && available < rest + kSpare;
  }

  // Finishes the download whose transfer ended with `code`.
  int run(int code, platform::File& temp) {
    context_.updating().setSuppressed(job_.localPath);
    if (context_.isStopping()) {
      code = codes::kStopped;
    } else if (code != codes::kOk) {
      log_write(kLogError, kModuleSync, "download file failed:[%s], local error:[%d]",
                job_.localPath.c_str(), code);
      log_location();
    } else {
      code = sealed_ ? codes::kOk : seal(temp);
      if (code == codes::kOk) {
        // The row lookups and writes of the placing take the journal's locks
        // once, in the pass's batch (or, when none is open, in their own).
        placements_.open();
        auto batch = context_.journal().batch();
        code = complete();
      }
    }
    temp.close();
    // The version the part file holds is gone from the service, or its disk
    // cannot take the rest of it (kept for a resume, it would only hold the
    // space the user needs): it goes, and a later try starts over.
    if (code == codes::kVersionChanged ||
        ((code == codes::kLocalFailure || code == codes::kStopped) && noRoomToFinish()))
      files::removeFile(job_.tempPath);
    // Noted before the monitor's events for the path are let in, so that the
    // report of the placing rename finds it; what that report is weighed
    // against is the file as it is when the report comes.
    const bool isPlaced = placed_ && (code == codes::kOk || code == codes::kReplacedLocal);
    if (isPlaced) {
      context_.placedFiles().note(job_.localPath, *placed_);
      context_.recentUploads().forget(job_.localPath);  // what was sent is replaced
    }
    context_.updating().clearSuppressed();
    // The monitor's events for the path were refused while the engine
    // placed the file; one the user caused meanwhile (an edit right after
    // the rename) is made up for here, or the edit would wait for the next
    // full scan.
    if (isPlaced) {
      files::EntryInfo now;
      if (files::stat(job_.localPath, now) || !sameState(now, *placed_))
        context_.updating().add(job_.localPath);
    }
    context_.downloadDone(code, job_.localPath);
    settlePlacements(context_, placements_, false);
    return code;
  }

 private:
  // Clears the way for the file when a folder stands at its path.
  // `row` is the path's journal row, or null when it has none.
  int clearFolder(const sync::JournalEntry* row) {
    if (row && (row->type & sync::FileJournal::kTypeFolder)) {
      // The folder was synced: its unchanged content goes, local changes stay.
      JournalNode node;
      if (readJournalTree(context_.journal(), row->id, node) != 0 ||
          context_.journal().removePath(job_.journalPath) != 0) {
        return codes::kLocalFailure;
      }
      std::vector<std::string> kept;
      if (removeUnchanged(job_.localPath, node, kept, context_.chunkCache(),
                          &context_.recentUploads()))
        return codes::kOk;
    }
    // Whatever is left is local work: keep all of it under another name.
    return moveAside(context_, job_.localPath) ? codes::kLocalFailure : codes::kOk;
  }

  // Places the sealed part file and records it.
  int complete() {
    const std::string& local = job_.localPath;

    // The sync folder is checked right before each step below that changes
    // it or the journal (rows dropped, a folder cleared, a file moved
    // aside), and again right before the final rename. A file whose name is
    // free, the usual case, takes no step in between: its one check is the
    // last one.
    auto row = journalRow(context_.journal(), job_.journalPath);
    bool replaced = false;
    files::EntryInfo info;
    if (auto ec = files::stat(local, info); ec && !files::isAbsence(ec)) {
      // What holds the name cannot be looked at: it is neither replaced nor
      // taken for gone (its rows stay), and the download is tried again.
      log_write(kLogError, kModuleSync, "cannot look at download target:[%s], error:[%d]",
                local.c_str(), ec.value());
      return codes::kLocalFailure;
    }
    if (row && (row->type & sync::FileJournal::kTypeFolder) &&
        info.type != files::EntryType::Directory) {
      // The synced folder is gone here already; only its rows were left, and
      // they would refuse the file's row for ever. (Unless the whole sync
      // folder went away: then nothing here is gone.)
      if (const int held = context_.rootCheck(); held != codes::kOk) return held;
      if (context_.journal().removePath(job_.journalPath) != 0) return codes::kLocalFailure;
      row.reset();
    }
    if (info.type == files::EntryType::Directory) {
      if (const int held = context_.rootCheck(); held != codes::kOk) return held;
      if (int rc = clearFolder(row ? &*row : nullptr); rc != codes::kOk) return rc;
      info = files::EntryInfo{};  // removed or moved aside
    } else if (info.type == files::EntryType::File) {
      replaced = row && (row->type & sync::FileJournal::kTypeFile);
      // Without a row (a first sync, a lost or discarded journal) nothing
      // says the file here is the remote one: equal size and time are what
      // copies and archives leave on different bytes. Its content decides.
      const bool changed =
          !replaced || !unchangedSinceSync(local, info, *row, &context_.recentUploads());
      if (changed && !verifyConflict()) {
        // Both sides changed: the local version moves aside under its
        // conflicted-copy name (a rename: its inode, and whoever still
        // writes to it, go along) and the remote one takes the name.
        if (const int held = context_.rootCheck(); held != codes::kOk) return held;
        if (auto ec = moveAside(context_, local)) {
          log_write(kLogError, kModuleSync, "cannot keep conflicted copy of:[%s], error:[%d]",
                    local.c_str(), ec.value());
          return codes::kLocalFailure;
        }
        info = files::EntryInfo{};  // the name is free now, and must still be when placed
      }
    } else if (info.type == files::EntryType::Other) {
      log_write(kLogError, kModuleSync, "special file in the way:[%s]", local.c_str());
      return codes::kUnsupported;
    }
    // Checked again right before the move: a folder unmounted or moved away
    // during the transfer is never written into (nor made again).
    if (const int held = context_.rootCheck(); held != codes::kOk) return held;
    if (!context_.pathAvailable(local)) return codes::kSyncRootUnavailable;
    if (!files::isDirectory(files::parentPath(local))) {
      log_write(kLogError, kModuleSync, "folder of the download is gone:[%s]", local.c_str());
      return codes::kLocalFailure;
    }
    // What was decided on must still hold: a file written or created at the
    // name meanwhile is never replaced (the next remote pass tries again).
    files::EntryInfo now;
    files::stat(local, now);
    if (!sameState(now, info)) {
      log_write(kLogInfo, kModuleSync, "changed while downloading, tried again later:[%s]",
                local.c_str());
      return codes::kFileChanged;
    }
    // One atomic step: the path always holds either the old or the new file.
    Placement placement;
    if (auto ec = placeFile(job_.tempPath, local, info, job_.remoteTime, placement)) {
      log_write(kLogError, kModuleSync, "cannot move download into place:[%s], error:[%d]",
                local.c_str(), ec.value());
      return ec == std::errc::file_exists ? codes::kFileChanged : codes::kLocalFailure;
    }
    if (!placement.keptCopy.empty()) context_.updating().add(placement.keptCopy);
    const files::EntryInfo& placed = placement.placed;
    // The new name reaches the disk before the journal says the file is
    // here: after a power cut, a row whose file had vanished with its
    // unwritten folder entry would read as a deletion made here and be sent
    // to the service. The pass's batch flushes the folder once for all the
    // files it took, before their rows are committed.
    if (const std::string folder = files::parentPath(local); !placements_.defer(folder)) {
      if (auto ec = files::syncDirectory(folder)) {
        log_write(kLogError, kModuleSync, "cannot flush the folder of:[%s], error:[%d]",
                  local.c_str(), ec.value());
        return codes::kLocalFailure;
      }
    }
    removeSupersededParts();
    // What the file system stored is recorded, not the remote time asked
    // for: a coarse clock (FAT, network mounts) rounds it, and the journal
    // must match what a later scan will read.
    if (putRowWithParents(context_.journal(), job_.journalPath, sync::FileJournal::kTypeFile,
                          job_.expected, placed.size, placed.lastWrite, nullptr,
                          stampOf(placed)) != 0) {
      return codes::kLocalFailure;
    }
    placed_ = placed;
    // A small file's bytes travel with its one request either way, so the
    // chunk index, which spares transfers of chunks found on disk, skips it.
    if (chunkcache::ChunkCache* cache = context_.chunkCache();
        cache && !job_.keys.empty() && placed.size > context_.settings().smallFileLimit) {
      cache->recordFile(local, placed.size, job_.chunkSize, job_.keys);
    }
    arrived_.add(placed.size, job_.chunkSize, job_.keys);
    return replaced ? codes::kReplacedLocal : codes::kOk;
  }

  // Part files of older versions of this file (interrupted downloads of a
  // version the service has since replaced) would stay for ever. A part
  // file that a download in flight writes (a file of the same name in
  // another folder) stays.
  void removeSupersededParts() {
    const std::string folder = files::parentPath(job_.tempPath);
    if (!leftovers_.listed) {
      listParts(folder, leftovers_.names);
      leftovers_.listed = true;
    }
    removeSupersededAmong(folder, leftovers_.names);
  }

  static void listParts(const std::string& folder, std::vector<std::string>& names) {
    std::vector<files::DirEntry> entries;
    if (files::listDirectory(folder, entries)) return;
    for (auto& e : entries)
      if (e.info.type == files::EntryType::File) names.push_back(std::move(e.name));
  }

  // Removes those of `names` that are this file's older versions and no
  // download in flight writes; they leave `names`.
  void removeSupersededAmong(const std::string& folder, std::vector<std::string>& names) {
    const int version = context_.settings().partVersion;
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const std::string& name) {
                                 if (!isPartFileOf(name, job_.localPath, version) ||
                                     (window_ && window_->holdsPartNamed(name))) {
                                   return false;
                                 }
                                 files::removeFile(files::joinPath(folder, name));
                                 return true;
                               }),
                names.end());
  }

  DownloadJob& job_;
  const DownloadWindow* window_;
  PartLeftovers& leftovers_;                // the pass's
  ArrivedContent& arrived_;                 // the pass's
  PlacementBatch& placements_;              // the pass's
  bool sealed_ = false;                     // set by seal(), read after the transfer's hand-back
  std::optional<files::EntryInfo> placed_;  // what complete() recorded, sync thread
};

// One file on its way down: its job, callback and part file live here from
// the decision to download it until the sync thread has completed it, and
// its folder's job counts it as pending all that time.
class FileDownload final : public DownloadWindow::Flight {
 public:
  FileDownload(Context& context, DownloadJob job, std::shared_ptr<FolderJob> folder,
               const DownloadWindow* window, PartLeftovers& leftovers, ArrivedContent& arrived,
               PlacementBatch& placements)
      : context_(context),
        job_(std::move(job)),
        callback_(context, job_, window, leftovers, arrived, placements),
        folder_(std::move(folder)) {}

  // Sync thread: the part file is named, in a temporary folder that
  // exists. 200, or the code the download then ends with.
  // The part file lies in the hidden temporary folder and is seen by no
  // one; the folder's device and inode are enough here (an unmounted or
  // replaced folder gets no temporary folder), the marker is read before
  // the file is placed.
  int name() {
    if (const int held = context_.rootIdentityCheck(); held != codes::kOk) return held;
    if (auto ec = ensureTempFolder(context_.localRoot())) {
      log_write(kLogError, kModuleSync, "cannot create the temporary folder, error:[%d]",
                ec.value());
      return codes::kLocalFailure;
    }
    job_.tempPath = tempFolderPath(context_.localRoot()) +
                    partFileName(job_.localPath, job_.expected, context_.settings().partVersion);
    return codes::kOk;
  }

  // On the sync thread, the chunks in parallel on the I/O channel.
  int transferHere() {
    if (const int rc = openPart(); rc != codes::kOk) return rc;
    return DownloadFile(context_, job_, callback_).run(temp_);
  }

  // A file whose chunks came down already (on the sync thread) goes into
  // the window only to be made durable: its sync to disk runs on an I/O
  // thread while the next files come down, and it is placed in order.
  void sealInWindow() { sealOnly_ = true; }

  // On an I/O thread: creating the part file is most of a small file's
  // cost on many file systems, and it touches nothing the sync thread reads
  // (the name is held by the window from submit() on).
  void transfer() override {
    if (sealOnly_) {
      code_ = context_.isStopping() ? codes::kStopped : callback_.seal(temp_);
      return;
    }
    code_ = openPart();
    if (code_ != codes::kOk) return;
    code_ = DownloadFile(context_, job_, callback_, DownloadFile::Chunks::OnThisThread).run(temp_);
    if (code_ == codes::kOk && !context_.isStopping()) code_ = callback_.seal(temp_);
  }
  void complete(bool transferred) override { finish(transferred ? code_ : codes::kOtherFailure); }
  const std::string& partPath() const override { return job_.tempPath; }

  // Completes the download whose transfer ended with `code` (the final
  // rename and the journal row when it succeeded) and counts it done in its
  // folder's job.
  void finish(int code) {
    code = callback_.run(code, temp_);
    folder_->finish(code == codes::kOk || code == codes::kReplacedLocal);
  }

 private:
  // Opens (or creates) the part file named by name(); an interrupted
  // download's part file is kept and resumed.
  int openPart() {
    if (temp_.open(job_.tempPath, platform::File::Mode::CreateKeep)) {
      log_write(kLogError, kModuleSync, "cannot open the part file of:[%s]",
                job_.localPath.c_str());
      return codes::kLocalFailure;
    }
    return codes::kOk;
  }

  Context& context_;
  DownloadJob job_;
  DownloadFileCallback callback_;
  platform::File temp_;
  const std::shared_ptr<FolderJob> folder_;
  int code_ = codes::kOtherFailure;  // written by transfer(), read by complete()
  bool sealOnly_ = false;            // set before the flight is submitted
};

// One remote pass.
class Pass {
 public:
  Pass(Context& context, bool fullRecheck)
      : context_(context),
        full_(fullRecheck),
        chooser_(journalTwinChooser(context)),
        placements_(context.journal(), files::syncDirectory) {
    hooks_.stopping = [this] { return context_.isStopping(); };
    hooks_.writeSignature = [this](const std::string& path, const Signature& sig) {
      context_.journal().setFolderSignature(path, sig);
    };
    if (const uint32_t limit = context.settings().filesInFlight; limit > 1) {
      window_ = std::make_unique<DownloadWindow>(limit, ioChannelPoster(context.settings()));
      // No rows wait on the network.
      window_->setBeforeWait([this] { settlePlacements(context_, placements_, true); });
    }
  }

  // Completes every download still in flight, and commits their rows.
  void drainDownloads() {
    if (window_) window_->drain();
    settlePlacements(context_, placements_, true);
  }

  int folder(const std::string& remotePath, const std::string& localFolder,
             std::optional<Signature> expected, const std::shared_ptr<FolderJob>& parent) {
    const std::string journalPath = sync::journalPathOf(remotePath);
    int64_t folderId = 0;
    int code = codes::kOk;
    std::shared_ptr<FolderJob> job;
    if (context_.journal().lookupPath(journalPath, folderId) != 0) {
      code = codes::kLocalFailure;
      if (parent) parent->schedule(), parent->finish(false);
    } else {
      job = FolderJob::make(journalPath, expected, parent, &hooks_);
      Signature listed{};
      std::vector<RemoteEntry> entries;
      std::vector<std::string> dropped;
      bool leftOut = false;
      // No rows wait on the network.
      settlePlacements(context_, placements_, true);
      code = list(remotePath, localFolder, entries, listed, dropped, leftOut);
      if (code == codes::kOk) {
        if (leftOut) job->leaveOut();
        merge(remotePath, localFolder, folderId, entries, dropped, job);
        if (expected && !sameSignature(listed, *expected)) code = codes::kConflict;
      }
      job->finish(code == codes::kOk);
    }
    if (code != codes::kOk) {
      log_write(kLogError, kModuleSync, "NS_SYNCX::Downloader::sync error:[%d]", code);
      log_location();
    }
    context_.reportResult(code, "");
    return code;
  }

 private:
  // Lists the folder; `dropped` gets the lower-cased names of entries
  // refused as unsafe, whose journal rows must not read as deleted;
  // `leftOut` is set when any listed entry is not taken (unsafe, a case twin).
  int list(const std::string& remotePath, const std::string& localFolder,
           std::vector<RemoteEntry>& out, Signature& listed, std::vector<std::string>& dropped,
           bool& leftOut) {
    GetResult result;
    int rc = http::meta_list(context_.credentials(), remotePath, &result.p);
    if (rc != codes::kOk) return rc < -1024 ? (rc & 0x7fffffff) : rc;
    std::memcpy(listed.data(), result.p->entry.ver, listed.size());
    const int32_t count = varnelo_array_size(result.p->entries);
    out.reserve(count > 0 ? count : 0);
    for (int32_t i = 0; i < count; ++i) {
      varnelo_meta_entry e{};
      if (varnelo_meta_entry_array_at(result.p->entries, i, &e) != codes::kOk || !e.path ||
          !(e.type & 3) || e.fileSize < 0) {
        return codes::kOtherFailure;
      }
      std::string_view path(e.path);
      RemoteEntry entry;
      entry.name = std::string(path.substr(path.rfind('/') + 1));
      if (!isSafeRemoteName(entry.name)) {
        // Never turned into a local path: reported by the remote path only.
        const std::string shown = childPath(remotePath, entry.name);
        log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", shown.c_str());
        context_.reportResult(codes::kUnsupported, shown);
        dropped.push_back(nameKey(entry.name));
        leftOut = true;
        continue;
      }
      entry.key = nameKey(entry.name);
      entry.folder = (e.type & 2) != 0;
      std::memcpy(entry.ver.data(), e.ver, entry.ver.size());
      entry.size = static_cast<uint64_t>(e.fileSize);
      out.push_back(std::move(entry));
    }
    std::sort(out.begin(), out.end(), [](const RemoteEntry& a, const RemoteEntry& b) {
      return a.key != b.key ? a.key < b.key : a.name < b.name;
    });
    // Names that differ only in case cannot both live in one local folder
    // next to the journal: the first one wins.
    size_t kept = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      if (kept > 0 && out[i].key == out[kept - 1].key) {
        const std::string shown = files::joinPath(localFolder, out[i].name);
        log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", shown.c_str());
        context_.reportResult(codes::kUnsupported, shown);
        leftOut = true;
        continue;
      }
      if (kept != i) out[kept] = std::move(out[i]);
      ++kept;
    }
    out.resize(kept);
    return codes::kOk;
  }

  void merge(const std::string& remotePath, const std::string& localFolder, int64_t folderId,
             const std::vector<RemoteEntry>& remote, const std::vector<std::string>& dropped,
             const std::shared_ptr<FolderJob>& job) {
    LocalListing local;
    // A missing folder lists as empty; one that cannot be listed (no
    // permission, an I/O error) is not weighed at all: nothing in it would
    // read as it is. It stays out of step and is listed again.
    if (auto ec = listLocalFolder(localFolder, local, chooser_); ec && !files::isAbsence(ec)) {
      log_write(kLogError, kModuleSync, "cannot list folder:[%s], error:[%d], listed again later",
                localFolder.c_str(), ec.value());
      context_.reportResult(codes::kLocalFailure, localFolder);
      job->schedule();
      job->finish(false);
      return;
    }
    std::vector<sync::JournalEntry> rows;
    context_.journal().listChildren(folderId, rows);
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    const std::string journalFolder = sync::journalPathOf(remotePath);
    std::vector<std::pair<const RemoteEntry*, std::string>> subfolders;
    mergeSorted(
        remote, rows, [](const RemoteEntry& e) -> std::string_view { return e.key; },
        [](const sync::JournalEntry& r) -> std::string_view { return r.name; },
        [&](const RemoteEntry* r, const sync::JournalEntry* j) {
          // An existing local entry keeps its own letter case.
          const std::string& wanted = r ? r->name : j->name;
          if (!r && std::find(dropped.begin(), dropped.end(), j->name) != dropped.end()) {
            return;  // listed, but under a name refused here: not deleted
          }
          const files::DirEntry* existing = local.find(wanted);
          if (!existing && local.isHeld(wanted)) {
            if (local.isUndecided(wanted)) {
              // The service did not say which twin is the synced one: this
              // folder stays out of step, so the next pass lists it again
              // instead of taking it as done without the entry.
              const std::string shown = files::joinPath(localFolder, wanted);
              log_write(kLogError, kModuleSync, "case twins of [%s] undecided, listed again later",
                        shown.c_str());
              context_.reportResult(codes::kOtherFailure, shown);
              job->schedule();
              job->finish(false);
              return;
            }
            // Local case twins of which none is known to be the synced one:
            // each is reported under its own name.
            for (const std::string& twin : local.twinsOf(wanted)) {
              const std::string shown = files::joinPath(localFolder, twin);
              log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", shown.c_str());
              context_.reportResult(codes::kUnsupported, shown);
            }
            if (r) job->leaveOut();
            return;
          }
          const std::string localPath =
              files::joinPath(localFolder, existing ? existing->name : wanted);
          bool unsupported = false;
          if (!context_.filter().acceptListed(
                  localPath, existing ? existing->info.type : files::EntryType::None,
                  &unsupported)) {
            // Excluded, or not to be stored here: the service keeps it, and
            // the folders above must not read as holding all they cover.
            if (r) job->leaveOut();
            files::EntryInfo here;
            if (unsupported) {
              log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", localPath.c_str());
              context_.reportResult(codes::kUnsupported, localPath);
            } else if (r && !files::stat(localPath, here) && here.type == files::EntryType::Other) {
              // A link, device or pipe holds the name of what the service
              // has: nothing is written through it or in its place, and
              // what does not come down is said so, not taken as in step.
              log_write(kLogError, kModuleSync, "special file in the way:[%s]", localPath.c_str());
              context_.reportResult(codes::kUnsupported, localPath);
            }
            return;
          }
          // A disk mounted here while the engine runs is remembered as the
          // local scan would, before anything is written onto it.
          if (existing && existing->info.type == files::EntryType::Directory)
            context_.folderAvailable(localPath);
          if (!context_.pathAvailable(localPath)) {
            // A mount point below the root that went away: nothing in it is
            // written or removed, and the folders above stay out of step.
            log_write(kLogError, kModuleSync, "folder unavailable (no longer mounted):[%s]",
                      localPath.c_str());
            context_.reportResult(codes::kSyncRootUnavailable, localPath);
            job->schedule();
            job->finish(false);
            return;
          }
          if (existing) {
            const bool joined = context_.takesPart(localPath);
            if (existing->info.type == files::EntryType::Directory &&
                (joined || !local.twinsOf(wanted).empty())) {
              // A folder chosen among case twins may hold what no scan sent
              // up while it was left out; the walk below only follows the
              // service's side, so its content is weighed as a local change.
              context_.updating().add(localPath);
            }
          }
          const std::string childJournal = journalFolder + "/" + (r ? r->key : j->name);
          if (r && !j && uploader::isRemoteHold(context_, childPath(remotePath, r->name))) {
            // An entry this computer took aside to delete: never brought down;
            // the folder stays out of step until the deletion is through.
            job->schedule();
            job->finish(false);
            return;
          }
          if (!r) {
            // Carried out after the walk, when all of them can be weighed.
            job->schedule();
            Removal removal{job, localPath, childJournal, {}};
            for (const std::string& twin : local.twinsOf(wanted))
              removal.twins.push_back(files::joinPath(localFolder, twin));
            removals_.push_back(std::move(removal));
            return;
          }
          const std::string childRemote = childPath(remotePath, r->name);
          const bool rowFolder = j && (j->type & sync::FileJournal::kTypeFolder);
          if (r->folder) {
            if (j && rowFolder) {
              if (full_ || !sameSignature(r->ver, j->signature))
                folder(childRemote, localPath, r->ver, job);
              return;
            }
            if (runOp(job, [&] { return makeLocalFolder(localPath, childJournal, j); }))
              folder(childRemote, localPath, r->ver, job);
            return;
          }
          if (j && !rowFolder && sameSignature(r->ver, j->signature)) return;
          if (existing && existing->info.type == files::EntryType::File &&
              settleUnfinishedCommit(context_, childRemote, childJournal)) {
            // The new version is this computer's own, whose commit an
            // earlier run never saw answered: nothing comes down, and what
            // was saved here since goes up over it.
            context_.updating().add(localPath);
            return;
          }
          download(*r, childRemote, localPath, childJournal, job);
        },
        [&] { return context_.isStopping(); });
    resendRefused(localFolder, remote, rows);
  }

  // Local entries of this folder whose upload the service refused because
  // the name was taken (409). While the listing holds the name, the walk
  // keeps both versions (or tries again at the next pass). One without a
  // journal row whose rival is gone would be sent by nothing but the next
  // full scan, so it is queued for upload here; one with a row is weighed
  // by the walk against it.
  void resendRefused(const std::string& localFolder, const std::vector<RemoteEntry>& remote,
                     const std::vector<sync::JournalEntry>& rows) {
    std::set<std::string>& refused = context_.refusedAsConflicts();
    if (refused.empty()) return;
    const std::string prefix = localFolder + "/";
    const auto byKey = [](const auto& a, const auto& b) { return keyOf(a) < keyOf(b); };
    auto it = refused.lower_bound(prefix);
    while (it != refused.end() && it->compare(0, prefix.size(), prefix) == 0) {
      const std::string_view name = std::string_view(*it).substr(prefix.size());
      if (name.find('/') != std::string_view::npos) {
        ++it;  // in a subfolder, weighed by its own listing
        continue;
      }
      const std::string key = nameKey(name);
      const bool listed = std::binary_search(remote.begin(), remote.end(), key, byKey);
      if (listed) {
        ++it;
        continue;
      }
      const bool known = std::binary_search(rows.begin(), rows.end(), key, byKey);
      if (!known && files::exists(*it)) {
        log_write(kLogInfo, kModuleSync, "the name refused as a conflict is free again:[%s]",
                  it->c_str());
        context_.updating().add(*it);
      }
      it = refused.erase(it);
    }
  }
  static std::string_view keyOf(const RemoteEntry& e) { return e.key; }
  static std::string_view keyOf(const sync::JournalEntry& r) { return r.name; }
  static std::string_view keyOf(const std::string& key) { return key; }

  // Runs one operation counted in `job`; true when it succeeded.
  template <class Op>
  bool runOp(const std::shared_ptr<FolderJob>& job, Op op) {
    job->schedule();
    const int code = op();
    const bool ok = code == codes::kOk || code == codes::kReplacedLocal;
    job->finish(ok);
    return ok;
  }

  // Creates the local folder of a remote folder (a synced file of that name
  // goes first, a changed or unknown one is kept as a conflicted copy) and
  // its journal row with a zero signature until its own pass completes.
  int makeLocalFolder(const std::string& localPath, const std::string& journalPath,
                      const sync::JournalEntry* fileRow) {
    context_.downloadStarted(localPath);
    context_.updating().setSuppressed(localPath);
    int code = codes::kOk;
    files::EntryInfo info;
    if (auto ec = files::stat(localPath, info); ec && !files::isAbsence(ec)) {
      // Neither made nor taken for free: what holds the name is not to be
      // looked at now, and the file row, if any, stays with it.
      log_write(kLogError, kModuleSync, "cannot look at folder target:[%s], error:[%d]",
                localPath.c_str(), ec.value());
      code = codes::kLocalFailure;
    } else if (fileRow && context_.journal().removePath(journalPath) != 0) {
      code = codes::kLocalFailure;
    }
    if (code == codes::kOk && info.type == files::EntryType::File) {
      if (fileRow && unchangedSinceSync(localPath, info, *fileRow, &context_.recentUploads())) {
        if (files::removeFile(localPath)) code = codes::kLocalFailure;
        if (chunkcache::ChunkCache* cache = context_.chunkCache()) cache->onRemove(localPath);
      } else if (moveAside(context_, localPath)) {
        code = codes::kLocalFailure;
      }
    } else if (code == codes::kOk && info.type == files::EntryType::Other) {
      code = codes::kUnsupported;
    }
    // One level only: the folder above was made by this pass, and one that
    // went away meanwhile (the sync folder itself included) is not made again.
    if (code == codes::kOk) {
      if (auto ec = files::createDirectory(localPath); ec && ec != std::errc::file_exists) {
        log_write(kLogError, kModuleSync, "cannot create folder:[%s], error:[%d]",
                  localPath.c_str(), ec.value());
        code = codes::kLocalFailure;
      } else if ((ec = files::syncDirectory(files::parentPath(localPath)))) {
        // As for a placed file: a folder row must never outlive, in a power
        // cut, the folder it stands for (it would read as deleted here).
        log_write(kLogError, kModuleSync, "cannot flush the folder of:[%s], error:[%d]",
                  localPath.c_str(), ec.value());
        code = codes::kLocalFailure;
      }
    }
    if (code == codes::kOk &&
        putRowWithParents(context_.journal(), journalPath, sync::FileJournal::kTypeFolder,
                          sync::VersionSignature{}, 0, 0) != 0) {
      code = codes::kLocalFailure;
    }
    context_.updating().clearSuppressed();
    if (code == codes::kOk && info.type == files::EntryType::Directory) {
      // A folder that was here already (made on this computer, its own
      // creation on the service not yet confirmed) is known from now on, so
      // the upload side will skip it: what it holds is local work that no
      // listing brings up, and it is queued here instead.
      uploader::queueFolderEntries(context_, localPath);
    }
    context_.downloadDone(code, localPath);
    return code;
  }

  // Downloads one file, counted in `folder` until it is complete. A file of
  // at most one chunk goes into the window: its transfer overlaps those of
  // the files around it, and it is completed later, in order. Anything
  // larger fetches its chunks in parallel here, and then goes into the
  // window to be synced to disk while the next files come down.
  void download(const RemoteEntry& entry, const std::string& remotePath,
                const std::string& localPath, const std::string& journalPath,
                const std::shared_ptr<FolderJob>& folder) {
    folder->schedule();
    if (context_.isStopping()) {
      folder->finish(false);
      return;
    }
    context_.downloadStarted(localPath);
    DownloadJob job;
    job.remotePath = remotePath;
    job.localPath = localPath;
    job.journalPath = journalPath;
    job.expected = entry.ver;
    auto flight = std::make_unique<FileDownload>(context_, std::move(job), folder, window_.get(),
                                                 leftovers_, arrived_, placements_);
    int code = flight->name();
    if (code == codes::kOk && window_ && entry.size <= context_.settings().chunkSize) {
      window_->submit(std::move(flight));
      return;
    }
    if (code == codes::kOk) {
      settlePlacements(context_, placements_, true);  // no rows wait on a large file
      code = flight->transferHere();
    }
    if (code == codes::kOk && window_ && !context_.isStopping()) {
      flight->sealInWindow();
      window_->submit(std::move(flight));
      return;
    }
    flight->finish(code);
  }

  struct Removal {
    std::shared_ptr<FolderJob> job;
    std::string localPath;
    std::string journalPath;
    // Case twins beside `localPath` that were left out for it: once it is
    // removed they are weighed again (one may take the name, the others are
    // reported as left out), never removed with it.
    std::vector<std::string> twins;
  };

  Context& context_;
  const bool full_;
  const TwinChooser chooser_;
  FolderJobHooks hooks_;
  std::vector<Removal> removals_;
  PartLeftovers leftovers_;
  ArrivedContent arrived_;     // what this pass placed, for telling a move from a deletion
  PlacementBatch placements_;  // the rows of placed files, not yet committed
  // Declared last: destroyed (and so drained) while everything its flights
  // use is still there.
  std::unique_ptr<DownloadWindow> window_;

 public:
  // Carries out the removals the walk found, unless they are too many at
  // once: then they are held, and their folders stay out of step so that
  // the next pass finds them again.
  void finishRemovals() {
    std::vector<std::string> paths;
    std::unordered_map<std::string, std::string> localPaths;
    for (const Removal& r : removals_) {
      if (movedOn(r)) continue;
      paths.push_back(r.journalPath);
      localPaths.emplace(r.journalPath, r.localPath);
    }
    std::unordered_set<std::string> held;
    if (holdLargeRemoteDeletions(context_, paths, localPaths))
      held.insert(paths.begin(), paths.end());
    for (const Removal& r : removals_) {
      const int code = held.count(r.journalPath) ? codes::kDeletionsHeld
                                                 : removePath(context_, r.localPath, r.journalPath);
      r.job->finish(code == codes::kOk);
      for (const std::string& twin : r.twins) context_.updating().add(twin);
    }
    removals_.clear();
  }

 private:
  // True when everything the removal would take off this computer arrived
  // under other names in this pass (the entry was renamed or moved on the
  // service): no deletion for the guard to weigh.
  bool movedOn(const Removal& r) {
    if (arrived_.empty() || !context_.deletions()) return false;
    JournalNode node;
    if (!readJournalTreeAt(context_.journal(), r.journalPath, node) ||
        !arrived_.coversAll(r.localPath, node, context_.chunkCache())) {
      return false;
    }
    log_write(kLogInfo, kModuleSync, "removed on the service, its content arrived elsewhere:[%s]",
              r.localPath.c_str());
    return true;
  }
};

}  // namespace

int syncDir(Context& context, bool fullRecheck) {
  if (const int held = context.rootCheck(); held != codes::kOk) {
    log_write(kLogError, kModuleSync, "sync folder unavailable:[%s], remote pass skipped",
              context.localRoot().c_str());
    context.reportResult(held, context.localRoot());
    return held;
  }
  int64_t homeId = 0;
  if (context.journal().lookupPath(kRemoteRoot, homeId) == sync::FileJournal::kNotFound) {
    context.journal().put(sync::FileJournal::kRootId, kRemoteRoot, sync::FileJournal::kTypeFolder,
                          sync::VersionSignature{}, 0, 0);
  }
  if (sync::DeletionHold* hold = context.deletions())
    hold->restart(sync::DeletionHold::Side::Remote);
  Pass pass(context, fullRecheck);
  const int code = pass.folder(kRemoteRoot, context.localRoot(), std::nullopt, nullptr);
  // Every download is in place (or failed) before any removal is weighed.
  pass.drainDownloads();
  pass.finishRemovals();
  if (sync::DeletionHold* hold = context.deletions())
    hold->settle(sync::DeletionHold::Side::Remote);
  return code;
}

int removePath(Context& context, const std::string& localPath, const std::string& journalPath) {
  if (context.isStopping()) return codes::kStopped;
  if (const int held = context.rootCheck(); held != codes::kOk) return held;
  if (!context.pathAvailable(localPath)) return codes::kSyncRootUnavailable;
  context.downloadStarted(localPath);
  context.updating().setSuppressed(localPath);
  sync::FileJournal& journal = context.journal();
  int code = codes::kOk;
  int64_t id = 0;
  std::vector<std::string> kept;
  if (journal.lookupPath(journalPath, id) == 0) {
    if (files::exists(localPath)) {
      JournalNode node;
      if (readJournalTree(journal, id, node) != 0) {
        code = codes::kLocalFailure;
      } else {
        removeUnchanged(localPath, node, kept, context.chunkCache(), &context.recentUploads());
      }
    }
    if (code == codes::kOk && journal.removePath(journalPath) != 0) code = codes::kLocalFailure;
  }
  context.updating().clearSuppressed();
  for (const auto& path : kept) {
    log_write(kLogInfo, kModuleSync, "removePath undeleted path(need re-uploading):[%s]",
              path.c_str());
    context.updating().add(path);
  }
  if (code != codes::kOk) {
    log_write(kLogError, kModuleSync,
              "(downloading) remove local path failed:[%s], sync error:[%d]", localPath.c_str(),
              code);
    log_location();
  } else {
    log_write(kLogInfo, kModuleSync, "(downloading) remove local succeeded:[%s]",
              localPath.c_str());
  }
  context.downloadDone(code, localPath);
  return code;
}

}  // namespace varnelo::downloader
