#include "DownloadCompletion.h"

#include <algorithm>

#include "ChunkCache.h"
#include "ChunkKeys.h"
#include "ConflictNames.h"
#include "JournalRows.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "PlaceFile.h"
#include "TempNames.h"
#include "TransferCodes.h"

namespace varnelo::downloader {

namespace files = platform::files;

std::error_code moveAside(Context& context, const std::string& localPath) {
  const std::string copy = conflictedCopyPath(localPath);
  if (auto ec = files::renameNoReplace(localPath, copy)) return ec;
  log_write(kLogInfo, kModuleSync, "conflicted copy made:[%s]", copy.c_str());
  context.updating().add(copy);
  return {};
}

void settlePlacements(Context& context, PlacementBatch& placements, bool now) {
  std::string failed;
  const std::error_code ec = now ? placements.settle(&failed) : placements.settleIfDue(&failed);
  if (ec) context.reportResult(codes::kLocalFailure, failed);
}

bool DownloadFileCallback::verifyConflict() {
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

int DownloadFileCallback::seal(platform::File& temp) {
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

bool DownloadFileCallback::noRoomToFinish() const {
  constexpr uint64_t kSpare = 1 << 20;
  uint64_t held = 0, available = 0;
  if (files::allocatedSpace(job_.tempPath, held) || held == 0 ||
      files::availableSpace(files::parentPath(job_.tempPath), available))
    return false;
  const uint64_t rest = job_.remoteSize > held ? job_.remoteSize - held : 0;
  return rest > 0 && available < rest + kSpare;
}

int DownloadFileCallback::run(int code, platform::File& temp) {
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

int DownloadFileCallback::clearFolder(const sync::JournalEntry* row) {
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

int DownloadFileCallback::complete() {
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
  // name meanwhile is never replaced (the next remote pass tries again),
  // also when it has the size and time of the one looked at.
  files::EntryInfo now;
  files::stat(local, now);
  if (!sameFile(now, info) || now.changeTime != info.changeTime) {
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

void DownloadFileCallback::removeSupersededParts() {
  const std::string folder = files::parentPath(job_.tempPath);
  if (!leftovers_.listed) {
    listParts(folder, leftovers_.names);
    leftovers_.listed = true;
  }
  removeSupersededAmong(folder, leftovers_.names);
}

void DownloadFileCallback::listParts(const std::string& folder, std::vector<std::string>& names) {
  std::vector<files::DirEntry> entries;
  if (files::listDirectory(folder, entries)) return;
  for (auto& e : entries)
    if (e.info.type == files::EntryType::File) names.push_back(std::move(e.name));
}

void DownloadFileCallback::removeSupersededAmong(const std::string& folder,
                                                 std::vector<std::string>& names) {
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

}  // namespace varnelo::downloader
