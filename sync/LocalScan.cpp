#include "LocalScan.h"

#include <algorithm>

#include "FileJournal.h"
#include "FolderPrefetch.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "SortedMerge.h"
#include "SyncFilter.h"
#include "SyncPaths.h"
#include "TempNames.h"
#include "TransferCodes.h"
#include "TwinBinding.h"
#include "platform/files.h"

namespace varnelo::uploader {

namespace files = platform::files;

namespace {

class Scan {
 public:
  // `ahead`, when given, reads the folders of the walk from the sync folder on.
  explicit Scan(Context& context, FolderPrefetch* ahead = nullptr)
      : context_(context), chooser_(journalTwinChooser(context)), ahead_(ahead) {}

  // Compares one local folder with the journal's children of `folderId`.
  bool walk(const std::string& folder, int64_t folderId) {
    LocalListing local;
    if (!list(folder, local, true)) return true;
    std::vector<sync::JournalEntry> rows;
    context_.journal().listChildren(folderId, rows);
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    if (restoreInterruptedRemovals(context_.journal(), folder, local, rows) > 0) {
      if (!list(folder, local)) return true;
      context_.journal().listChildren(folderId, rows);  // their stamps were renewed
      std::sort(rows.begin(), rows.end(),
                [](const auto& a, const auto& b) { return a.name < b.name; });
    }
    for (const auto& twin : local.twins) {
      const std::string path = files::joinPath(folder, twin);
      if (local.isUndecided(twin)) {
        // The service could not say which twin is the synced one: the path
        // waits in the retry set and is decided again, never refused for it.
        log_write(kLogError, kModuleSync, "case twins of [%s] undecided, retry it later",
                  path.c_str());
        context_.retry().add(path);
        context_.reportResult(codes::kOtherFailure, path);
        continue;
      }
      reportUnsupported(path);
    }
    std::vector<std::pair<std::string, int64_t>> subfolders;
    std::vector<std::pair<sync::JournalEntry, sync::FileStamp>> unstamped;
    const bool finished = mergeSorted(
        local.entries, rows, [](const files::DirEntry& e) { return nameKey(e.name); },
        [](const sync::JournalEntry& r) -> std::string_view { return r.name; },
        [&](const files::DirEntry* l, const sync::JournalEntry* r) {
          const std::string path = files::joinPath(folder, l ? l->name : r->name);
          if (!takesPart(path, l ? l->info.type : files::EntryType::None)) {
            // A path too long to be stored (or not UTF-8) is a file of the
            // user's that stays only here: said so, not passed over without
            // a word like the temporary and system files of the pattern table.
            if (l && context_.filter().refusesOnlyForItsForm(path)) reportUnsupported(path);
            return;
          }
          if (!l && local.isHeld(r->name)) {
            // Twins of which none can be the synced one (it went while the
            // engine was not running; the twins beside it are newcomers):
            // the row's own path is weighed as a deletion would be when seen
            // as it happens, which sends it only as far as the remote entry
            // is still as synced and then decides the twins anew. While
            // the service cannot be asked the row stays as it is.
            if (!local.isUndecided(r->name)) queue(path);
            return;
          }
          if (!isSafeRemoteName(l ? l->name : r->name)) {
            // The download side refuses such a name, so it never goes up.
            if (l) reportUnsupported(path);
            return;
          }
          if (l && l->info.type == files::EntryType::Directory && !context_.folderAvailable(path)) {
            // A mount point that went away: its content is not deleted.
            log_write(kLogError, kModuleSync, "folder unavailable (no longer mounted):[%s]",
                      path.c_str());
            context_.reportResult(codes::kSyncRootUnavailable, path);
            return;
          }
          if (l) context_.takesPart(path);
          if (!l || !r) {
            queue(path);
            return;
          }
          const bool localFolder = l->info.type == files::EntryType::Directory;
          const bool rowFolder = (r->type & sync::FileJournal::kTypeFolder) != 0;
          if (localFolder != rowFolder) {
            queue(path);
          } else if (localFolder) {
            subfolders.emplace_back(path, r->id);
          } else if (!matchesRow(l->info, *r)) {
            // Size, time, and the change time and inode where the row has
            // them: an edit that set the old time back is sent too.
            queue(path);
          } else if (r->changeTime == 0) {
            unstamped.emplace_back(*r, stampOf(l->info));
          }
        },
        [&] { return context_.isStopping(); });
    if (!finished) return false;
    stamp(unstamped);
    for (const auto& [path, id] : subfolders) {
      if (!walk(path, id)) return false;
    }
    return true;
  }

 private:
  // Rows written before stamps were kept take the stamp of the file they
  // match by size and time (what they were compared by until now), so that
  // from here on an edit that puts the old time back is seen in them too.
  void stamp(const std::vector<std::pair<sync::JournalEntry, sync::FileStamp>>& rows) {
    if (rows.empty()) return;
    sync::FileJournal& journal = context_.journal();
    auto batch = journal.batch();
    for (const auto& [r, stamp] : rows)
      journal.put(r.pid, r.name, r.type, r.signature, r.fileSize, r.editTime, stamp);
  }
  // False (said in the log) when the folder went away meanwhile: its
  // parent's scan or an event covers it.
  // `mayBeAhead`: a listing read ahead will do (not for a second look).
  bool list(const std::string& folder, LocalListing& local, bool mayBeAhead = false) {
    if (mayBeAhead && ahead_) {
      if (auto entries = ahead_->take(folder)) {
        arrangeLocalFolder(folder, std::move(*entries), local, chooser_);
        return true;
      }
    }
    if (auto ec = listLocalFolder(folder, local, chooser_)) {
      log_write(kLogError, kModuleSync, "cannot list folder:[%s], error:[%d]", folder.c_str(),
                ec.value());
      return false;
    }
    return true;
  }
  // `kind`: what the listing found at the path (None for a row's name that
  // is not there).
  bool takesPart(const std::string& path, files::EntryType kind) {
    if (files::fileName(path) == kTempFolderName) return false;
    return context_.filter().acceptListed(path, kind);
  }
  void queue(const std::string& path) { context_.updating().add(path); }
  void reportUnsupported(const std::string& path) {
    log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", path.c_str());
    context_.reportResult(codes::kUnsupported, path);
  }

  Context& context_;
  const TwinChooser chooser_;
  FolderPrefetch* const ahead_;
};

}  // namespace

int syncLocalFiles(Context& context) {
  if (const int held = context.rootCheck(); held != codes::kOk) {
    log_write(kLogError, kModuleSync, "sync folder unavailable:[%s], local scan skipped",
              context.localRoot().c_str());
    context.reportResult(held, context.localRoot());
    return held;
  }
  sync::FileJournal& journal = context.journal();
  int64_t homeId = 0;
  int rc = journal.lookupPath(kRemoteRoot, homeId);
  if (rc == sync::FileJournal::kNotFound) {
    journal.put(sync::FileJournal::kRootId, kRemoteRoot, sync::FileJournal::kTypeFolder,
                sync::VersionSignature{}, 0, 0);
    rc = journal.lookupPath(kRemoteRoot, homeId);
  }
  if (rc != 0) {
    log_write(kLogInfo, kModuleSync, "syncLocalFiles sqlite fail:%d", rc);
    return rc;
  }
  FolderPrefetch ahead(context.localRoot(), context.filter());
  return Scan(context, &ahead).walk(context.localRoot(), homeId) ? codes::kOk : codes::kStopped;
}

int syncLocalFolder(Context& context, const std::string& localFolder, int64_t folderId) {
  return Scan(context).walk(localFolder, folderId) ? codes::kOk : codes::kStopped;
}

}  // namespace varnelo::uploader
