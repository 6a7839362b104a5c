#include "RemotePass.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "ChunkCache.h"
#include "CommitIntent.h"
#include "DeletionBatch.h"
#include "Download.h"
#include "FileDownload.h"
#include "JournalRows.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "RemoteRemoval.h"
#include "SortedMerge.h"
#include "SyncFilter.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "TwinBinding.h"
#include "Upload.h"
#include "platform/files.h"

namespace varnelo::downloader {

namespace files = platform::files;

namespace {

bool sameSignature(const Signature& a, const Signature& b) {
  return a == b;
}

}  // namespace

template <class Op>
bool RemotePass::runOp(const std::shared_ptr<FolderJob>& job, Op op) {
  job->schedule();
  const int code = op();
  const bool ok = code == codes::kOk || code == codes::kReplacedLocal;
  job->finish(ok);
  return ok;
}

RemotePass::RemotePass(Context& context, bool fullRecheck)
    : context_(context),
      full_(fullRecheck),
      chooser_(journalTwinChooser(context)),
      placements_(context.journal(), files::syncDirectory),
      ahead_([this](const std::string& remotePath, bool withContent) {
        return fetchRemoteListing(context_, remotePath, withContent ? &listedAllowance_ : nullptr);
      }) {
  hooks_.stopping = [this] { return context_.isStopping(); };
  hooks_.writeSignature = [this](const std::string& path, const Signature& sig) {
    context_.journal().setFolderSignature(path, sig);
  };
  if (const uint32_t limit = context.settings().downloadsInFlight; limit > 1) {
    // Sync thread only (submit() posts), so the threads start with the
    // first transfer of a pass that has any.
    auto post = [this, limit](mthread::OperationArena& arena, void* argument,
                              mthread::Channel::RunFunction run) {
      if (!transfers_) transfers_ = std::make_unique<mthread::Channel>(limit);
      return transfers_->post(arena, argument, run);
    };
    window_ = std::make_unique<DownloadWindow>(limit, post);
    // No rows wait on the network.
    window_->setBeforeWait([this] { settlePlacements(context_, placements_, true); });
  }
}

void RemotePass::drainDownloads() {
  if (window_) window_->drain();
  settlePlacements(context_, placements_, true);
}

int RemotePass::folder(const std::string& remotePath, const std::string& localFolder,
                       std::optional<Signature> expected,
                       const std::shared_ptr<FolderJob>& parent) {
  reached(remotePath);
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
    std::vector<sync::JournalEntry> rows;
    context_.journal().listChildren(folderId, rows);
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    // Small files' content comes with the listing of a folder this
    // computer holds nothing of yet. A folder it knows is listed without:
    // most often it changed by this computer's own uploads, which would
    // all come back. Only when that listing shows many small files to
    // fetch is it asked for again with their content.
    code = list(remotePath, localFolder, rows.empty(), entries, listed, dropped, leftOut);
    if (code == codes::kOk && !rows.empty() && context_.settings().inlineLimit > 0 &&
        smallFilesToFetch(entries, rows, context_.settings().inlineLimit) >= kListAgainFor) {
      entries.clear();
      dropped.clear();
      leftOut = false;
      code = listRemoteFolder(context_, remotePath, localFolder, entries, listed, dropped, leftOut,
                              &listedAllowance_);
    }
    if (code == codes::kOk) {
      if (leftOut) job->leaveOut();
      expectChildren(remotePath, entries, rows);
      askAhead();
      merge(remotePath, localFolder, entries, rows, dropped, job);
      leaveFolder();
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

int RemotePass::list(const std::string& remotePath, const std::string& localFolder,
                     bool withContent, std::vector<RemoteEntry>& entries, Signature& listed,
                     std::vector<std::string>& dropped, bool& leftOut) {
  if (std::optional<FetchedListing> fetched = ahead_.take(remotePath, withContent)) {
    return weighRemoteListing(context_, remotePath, localFolder, std::move(*fetched), entries,
                              listed, dropped, leftOut);
  }
  return listRemoteFolder(context_, remotePath, localFolder, entries, listed, dropped, leftOut,
                          withContent ? &listedAllowance_ : nullptr);
}

void RemotePass::reached(const std::string& remotePath) {
  if (expected_.empty()) return;
  std::deque<Expected>& siblings = expected_.back();
  const auto it = std::find_if(siblings.begin(), siblings.end(),
                               [&](const Expected& e) { return e.remotePath == remotePath; });
  if (it == siblings.end()) return;  // not expected: whatever is expected still may come
  for (auto passed = siblings.begin(); passed != it; ++passed) ahead_.drop(passed->remotePath);
  siblings.erase(siblings.begin(), it + 1);
}

void RemotePass::expectChildren(const std::string& remotePath,
                                const std::vector<RemoteEntry>& remote,
                                const std::vector<sync::JournalEntry>& rows) {
  std::deque<Expected>& children = expected_.emplace_back();
  for (const RemoteEntry& e : remote) {
    if (!e.folder) continue;
    const auto row =
        std::lower_bound(rows.begin(), rows.end(), e.key,
                         [](const auto& r, const std::string& key) { return r.name < key; });
    const bool known = row != rows.end() && row->name == e.key;
    const bool folderRow = known && (row->type & sync::FileJournal::kTypeFolder);
    if (folderRow && !full_ && sameSignature(e.ver, row->signature)) continue;
    children.push_back({childPath(remotePath, e.name), !folderRow});
  }
}

void RemotePass::askAhead() {
  if (context_.isStopping()) return;
  // The next folders in the walk's order, as far as it is known: the rest
  // of the innermost folder's children, then those of the folders above.
  size_t asked = 0;
  for (auto level = expected_.rbegin(); level != expected_.rend(); ++level) {
    for (const Expected& e : *level) {
      if (asked++ == ahead_.bound() || !ahead_.request(e.remotePath, e.withContent)) return;
    }
  }
}

void RemotePass::leaveFolder() {
  for (const Expected& e : expected_.back()) ahead_.drop(e.remotePath);
  expected_.pop_back();
}

size_t RemotePass::smallFilesToFetch(const std::vector<RemoteEntry>& remote,
                                     const std::vector<sync::JournalEntry>& rows, uint64_t limit) {
  size_t count = 0;
  for (const RemoteEntry& e : remote) {
    if (e.folder || e.size == 0 || e.size > limit) continue;
    const auto row =
        std::lower_bound(rows.begin(), rows.end(), e.key,
                         [](const auto& r, const std::string& key) { return r.name < key; });
    if (row == rows.end() || row->name != e.key || row->signature != e.ver) ++count;
  }
  return count;
}

void RemotePass::merge(const std::string& remotePath, const std::string& localFolder,
                       const std::vector<RemoteEntry>& remote,
                       const std::vector<sync::JournalEntry>& rows,
                       const std::vector<std::string>& dropped,
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
  const std::string journalFolder = sync::journalPathOf(remotePath);
  std::vector<std::pair<const RemoteEntry*, std::string>> subfolders;
  mergeSorted(
      remote, rows, [](const RemoteEntry& e) -> std::string_view { return e.key; },
      [](const sync::JournalEntry& r) -> std::string_view { return r.name; },
      [&](const RemoteEntry* r, const sync::JournalEntry* j) {
        // Content that came with the listing is let go as soon as the
        // entry is decided on (a download has taken it by then).
        struct LetGo {
          const RemoteEntry* entry;
          ~LetGo() {
            if (entry) entry->content.release();
          }
        } letGo{r};
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
                localPath, existing ? existing->info.type : files::EntryType::None, &unsupported)) {
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

void RemotePass::resendRefused(const std::string& localFolder,
                               const std::vector<RemoteEntry>& remote,
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

int RemotePass::makeLocalFolder(const std::string& localPath, const std::string& journalPath,
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
      log_write(kLogError, kModuleSync, "cannot create folder:[%s], error:[%d]", localPath.c_str(),
                ec.value());
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

void RemotePass::download(const RemoteEntry& entry, const std::string& remotePath,
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
  if (!entry.content.empty()) {
    job.content = std::move(entry.content);
    job.remoteSize = entry.size;
    job.remoteTime = entry.time;
  }
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

void RemotePass::finishRemovals() {
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

bool RemotePass::movedOn(const Removal& r) {
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

}  // namespace varnelo::downloader
