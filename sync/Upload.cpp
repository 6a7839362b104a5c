#include "Upload.h"

#include <cstring>

#include "ChunkCache.h"
#include "ChunkKeys.h"
#include "CommitIntent.h"
#include "FileJournal.h"
#include "IoUpload.h"
#include "JournalRows.h"
#include "KeyList.h"
#include "LocalRemoval.h"
#include "LocalScan.h"
#include "Log.h"
#include "MetaApi.h"
#include "RemoteKeys.h"
#include "RemoteRemoval.h"
#include "SmallUploads.h"
#include "SyncFilter.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "TwinBinding.h"
#include "platform/files.h"

namespace varnelo::uploader {

namespace files = platform::files;

namespace {

// What stands for the name of a deleted entry among the other entries of
// its folder that spell it in another letter case.
enum class Sibling {
  kNone,         // no such entry: the deletion is sent
  kTakesOver,    // one of them keeps the binding to the remote entry and row
  kNoneTakes,    // twins, none of which is the synced one
  kUndecided,    // twins, and the service could not say which is synced
  kHoldsSynced,  // twins, none the synced one, but holding its synced files
};

// A case-only rename, or the one twin left once the synced one went, takes
// over the remote entry under that name. When two or more twins remain and
// none of them can be the synced one (it was moved away or deleted, and the
// twins beside it are newcomers refused so far), nothing local stands for
// the remote entry any more: it is deleted as far as it is still as synced,
// and then the twins are decided by byte order like any new ones. Unless
// the twins hold the synced folder's files between them: a deletion then
// would take from the service, and from every other computer, files that
// are still here.
Sibling caseSibling(Context& context, const std::string& localPath) {
  LocalListing listing;
  const std::string name = files::fileName(localPath);
  if (listLocalFolder(files::parentPath(localPath), listing, journalTwinChooser(context)))
    return Sibling::kNone;
  if (listing.find(name)) return Sibling::kTakesOver;
  if (listing.isUndecided(name)) return Sibling::kUndecided;
  if (listing.isHeld(name)) {
    return twinsHoldSyncedChildren(context, localPath) ? Sibling::kHoldsSynced
                                                       : Sibling::kNoneTakes;
  }
  return Sibling::kNone;
}

// The journal keeps each name folded to lower case, so a case twin spelled
// exactly so has the path of the synced entry's row too. When none of the
// twins can be the synced one, the scan hands that path here to be weighed
// as a deletion of the synced entry; true when this is such a path (a twin
// of it that merely shares the spelling is refused like any other twin).
bool spellsTheRowOfHeldTwins(Context& context, const std::string& localPath,
                             const std::string& remotePath) {
  const std::string name = files::fileName(localPath);
  // The row first: a lookup, where the listing may ask the service.
  return nameKey(name) == name &&
         journalRow(context.journal(), sync::journalPathOf(remotePath)).has_value() &&
         caseSibling(context, localPath) == Sibling::kNoneTakes;
}

// True when every name below the sync folder is one the download side
// accepts too (no "\", valid UTF-8, ...): a name the service would hand back
// and the other side refuse must never go up.
bool namesAreSafe(const std::string& localRoot, const std::string& localPath) {
  auto rel = relativeToRoot(localRoot, localPath);
  if (!rel) return false;
  for (size_t start = 0; start < rel->size();) {
    size_t end = rel->find('/', start);
    if (end == std::string::npos) end = rel->size();
    if (!isSafeRemoteName(std::string_view(*rel).substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// Asks the service what holds `remotePath`: kOk with `folder` set when the
// answer came, else the failure of the request.
int askIfRemoteFolder(Context& context, const std::string& remotePath, bool& folder) {
  varnelo_meta_get_result* result = nullptr;
  const int code = http::meta_get(context.credentials(), remotePath, &result, nullptr, false, 0);
  folder = code == codes::kOk && (result->entry.type & 2) != 0;
  varnelo_meta_destroy_get_result(result);
  return code;
}

// True when the file differs from its row by its stamp alone (the size and
// time it was synced with, but the change time or inode moved: a mode or
// owner change, a new hard link, a rename made and undone) and holds the
// bytes of the synced version, which is still the service's. Its keys are
// computed here and compared with the ones the service lists; anything
// else, a failed request included, reads as changed.
bool onlyTheStampMoved(Context& context, const std::string& localPath,
                       const std::string& remotePath, const files::EntryInfo& info,
                       const sync::JournalEntry& row) {
  if (info.size != static_cast<uint64_t>(row.fileSize) ||
      info.lastWrite != static_cast<uint64_t>(row.editTime))
    return false;
  varnelo_meta_get_result* result = nullptr;
  bool same = false;
  if (http::meta_get(context.credentials(), remotePath, &result, nullptr, false, 0) == codes::kOk &&
      std::memcmp(result->entry.ver, row.signature.data(), row.signature.size()) == 0) {
    // The stored file's own chunk size, which may differ from today's.
    uint32_t chunkSize = static_cast<uint32_t>(context.settings().chunkSize);
    if (result->dataurl) http::key_list_chunk_size(result->dataurl, chunkSize);
    std::vector<ChunkKey> remote, local;
    same = remoteKeysOf(*result, chunkSize, remote) &&
           computeVersionKeys(localPath, info.size, info.lastWrite, chunkSize, local,
                              [&] { return context.isStopping(); }) == codes::kOk &&
           local == remote;
  }
  varnelo_meta_destroy_get_result(result);
  return same;
}

}  // namespace

int prepareUploading(Context& context, const std::string& localPath) {
  // A path (or a case twin of it) still in flight completes first: what is
  // decided below reads its journal row.
  if (SmallUploads* window = context.smallUploads(); window && window->holds(localPath)) {
    window->drain();
  }
  bool unsupported = false;
  if (!context.filter().accept(localPath, &unsupported)) {
    log_write(kLogInfo, kModuleSync, "excluded path:[%s] by filter", localPath.c_str());
    // The user's file whose path is too long to store stays only here, and
    // is said so; temporary and system files are left out without a word.
    if (unsupported && context.filter().refusesOnlyForItsForm(localPath) &&
        files::exists(localPath))
      context.reportResult(codes::kUnsupported, localPath);
    return codes::kUnsupported;
  }
  // An unmounted or deleted sync folder must never read as "everything was
  // deleted": nothing is sent until it is back.
  if (const int held = context.rootCheck(); held != codes::kOk) {
    log_write(kLogError, kModuleSync, "sync folder unavailable:[%s], path skipped:[%s]",
              context.localRoot().c_str(), localPath.c_str());
    context.reportResult(held, localPath);
    return held;
  }
  if (!context.pathAvailable(localPath)) {
    log_write(kLogError, kModuleSync, "folder of [%s] is no longer mounted, path skipped",
              localPath.c_str());
    context.reportResult(codes::kSyncRootUnavailable, localPath);
    return codes::kSyncRootUnavailable;
  }
  auto remote = remotePathOf(context.localRoot(), localPath);
  if (!remote || *remote == kRemoteRoot) {
    log_write(kLogError, kModuleSync, "path outside the sync folder:[%s]", localPath.c_str());
    return codes::kLocalFailure;
  }
  bool undecided = false;
  const bool safeNames = namesAreSafe(context.localRoot(), localPath);
  if (!safeNames || context.caseTwins().isShadowed(context.localRoot(), localPath,
                                                   journalTwinChooser(context), &undecided)) {
    if (undecided) {
      // The service could not say which twin is the synced one: the path
      // waits in the retry set and is decided again, never dropped.
      log_write(kLogError, kModuleSync, "case twins of [%s] undecided, retry it later",
                localPath.c_str());
      context.retry().add(localPath);
      context.reportResult(codes::kOtherFailure, localPath);
      return codes::kOtherFailure;
    }
    if (safeNames && spellsTheRowOfHeldTwins(context, localPath, *remote)) {
      // Weighed as the deletion below weighs a row no twin spells: sent as
      // far as the remote entry is still as synced, and then the twins are
      // decided anew, which the row's twin would otherwise block for good.
      log_write(kLogInfo, kModuleSync,
                "case twins of [%s]: none is the synced one, its row is weighed as a deletion",
                localPath.c_str());
      const int code = deleteRemote(context, localPath, *remote);
      context.requestLocalScan();
      return code;
    }
    log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", localPath.c_str());
    context.reportResult(codes::kUnsupported, localPath);
    return codes::kUnsupported;
  }
  files::EntryInfo info;
  if (auto ec = files::stat(localPath, info); ec && !files::isAbsence(ec)) {
    // Not to be looked at (a folder above it without permission, an I/O
    // error) is not gone: nothing is sent or deleted until it can be read.
    log_write(kLogError, kModuleSync, "cannot look at path:[%s], error:[%d], retry it later",
              localPath.c_str(), ec.value());
    context.retry().add(localPath);
    context.reportResult(codes::kLocalFailure, localPath);
    return codes::kLocalFailure;
  }
  if (info.type == files::EntryType::File || info.type == files::EntryType::Directory) {
    context.takesPart(localPath);
  }
  if (info.type == files::EntryType::File) {
    log_write(kLogInfo, kModuleSync, "prepare uploading file:[%s], ", localPath.c_str());
    return uploadFile(context, localPath, *remote);
  }
  if (info.type == files::EntryType::Directory) {
    context.folderAvailable(localPath);  // remembers a folder that is a mount point
    log_write(kLogInfo, kModuleSync, "prepare uploading dir:[%s], ", localPath.c_str());
    const int code = uploadFolder(context, localPath, *remote);
    if (code == codes::kUnchanged &&
        context.caseTwins().hasShadowedTwin(localPath, journalTwinChooser(context))) {
      // A synced folder beside a case twin comes here when a scan could not
      // tell the twins apart: that scan left out everything below it, which
      // may hold changes only a scan finds (made while the engine was not
      // running). Now that it is decided, a scan looks below it again.
      log_write(kLogInfo, kModuleSync, "case twins of [%s] decided, scan requested",
                localPath.c_str());
      context.requestLocalScan();
    }
    return code;
  }
  if (info.type == files::EntryType::Other) return codes::kUnsupported;
  const Sibling sibling = caseSibling(context, localPath);
  if (sibling == Sibling::kTakesOver) {
    // "a.txt" went away while "A.txt" stays: the remote entry is A.txt's now
    // (it was already, or it was a twin left out until now). A scan sends
    // what differs between it and the journal's row, below it too.
    log_write(kLogInfo, kModuleSync, "case twin of [%s] remains, nothing to delete",
              localPath.c_str());
    context.requestLocalScan();
    return codes::kOk;
  }
  if (sibling == Sibling::kHoldsSynced) {
    // The synced folder's files are split or copied among its case twins:
    // its deletion is never sent, and every twin stays out (said so by the
    // scan) until a rename leaves one.
    log_write(kLogError, kModuleSync,
              "case twins of [%s] hold the synced folder's files; none takes part until one is "
              "renamed",
              localPath.c_str());
    return codes::kUnsupported;
  }
  if (sibling == Sibling::kUndecided) {
    log_write(kLogError, kModuleSync, "case twins of [%s] undecided, retry it later",
              localPath.c_str());
    context.retry().add(localPath);
    context.reportResult(codes::kOtherFailure, localPath);
    return codes::kOtherFailure;
  }
  log_write(kLogInfo, kModuleSync, "prepare (uploading) delete path:[%s], ", localPath.c_str());
  const int code = deleteRemote(context, localPath, *remote);
  // The twins left out for the deleted name are decided again and sent.
  if (sibling == Sibling::kNoneTakes) context.requestLocalScan();
  return code;
}

int uploadFile(Context& context, const std::string& localPath, const std::string& remotePath) {
  if (context.isStopping()) return codes::kStopped;
  context.uploadStarted(localPath);
  files::EntryInfo info;
  if (auto ec = files::stat(localPath, info); ec || info.type != files::EntryType::File) {
    log_write(kLogError, kModuleSync, "cannot read file:[%s], error:[%d]", localPath.c_str(),
              ec.value());
    context.uploadDone(codes::kLocalFailure, localPath);
    return codes::kLocalFailure;
  }
  UploadJob job;
  job.localPath = localPath;
  job.remotePath = remotePath;
  job.journalPath = sync::journalPathOf(remotePath);
  job.fileSize = info.size;
  job.lastWrite = info.lastWrite;
  job.stamp = stampOf(info);
  // A commit of this file that an earlier run sent but never saw answered
  // is settled first: the row it leaves is what the file is weighed against.
  settleUnfinishedCommit(context, remotePath, job.journalPath);
  if (auto row = journalRow(context.journal(), job.journalPath)) {
    if (row->type & sync::FileJournal::kTypeFolder) {
      job.journalKnowsFolder = true;
    } else {
      if (unchangedSinceSync(localPath, info, *row, &context.recentUploads())) {
        context.uploadDone(codes::kUnchanged, localPath);
        return codes::kUnchanged;
      }
      if (onlyTheStampMoved(context, localPath, remotePath, info, *row)) {
        // Nothing to send: the row takes the stamp the file has now.
        const int rc = context.journal().put(row->pid, row->name, row->type, row->signature,
                                             row->fileSize, row->editTime, job.stamp);
        context.uploadDone(rc == 0 ? codes::kUnchanged : codes::kLocalFailure, localPath);
        return rc == 0 ? codes::kUnchanged : codes::kLocalFailure;
      }
      job.journalKnowsFile = true;
      job.base = row->signature;
    }
  }
  runUpload(context, job);
  return codes::kOk;
}

int uploadFolder(Context& context, const std::string& localPath, const std::string& remotePath) {
  if (context.isStopping()) return codes::kStopped;
  if (SmallUploads* window = context.smallUploads()) window->drain();
  const std::string journalPath = sync::journalPathOf(remotePath);
  auto row = journalRow(context.journal(), journalPath);
  if (row && (row->type & sync::FileJournal::kTypeFolder)) {
    // Most often nothing changed. But the name may hold another folder now:
    // the synced one deleted, or moved away, and another made or moved in
    // its place before that was sent. No event names what differs then (the
    // old content's absence, the new content that was never here), so the
    // folder is weighed against the rows below it, as a scan would.
    syncLocalFolder(context, localPath, row->id);
    return codes::kUnchanged;
  }

  context.uploadStarted(localPath);
  int code = codes::kOk;
  if (row) {
    // A synced file became a folder: the file goes first, unless it changed
    // on the service meanwhile. Then it stays, its row is forgotten, and the
    // next remote pass brings it back beside this folder (which is kept
    // under a conflicted-copy name).
    code = deleteIfUnchanged(context, remotePath);
    if (code == codes::kUnchanged) {
      context.uploadDone(code, localPath);
      return code;
    }
  }
  if (code == codes::kOk) {
    files::EntryInfo info;
    files::stat(localPath, info);
    const std::string editTime = std::to_string(info.lastWrite);
    varnelo_meta_entry entry{};
    code = http::meta_mkdir(context.credentials(), remotePath, editTime.c_str(), &entry);
    bool folder = code == codes::kOk;
    if (code == codes::kConflict) {
      // 409 says only that the name is taken. A lookup that fails (or finds
      // the name free again) leaves the folder to be tried again, not
      // taken for a conflict.
      if (const int asked = askIfRemoteFolder(context, remotePath, folder); asked != codes::kOk) {
        log_write(kLogError, kModuleSync,
                  "cannot ask what holds the folder's name:[%s], error:[%d]", remotePath.c_str(),
                  asked);
        code = asked;
      } else if (!folder) {
        // By a file it is no folder of ours.
        log_write(kLogError, kModuleSync, "a remote file holds the folder's name:[%s]",
                  remotePath.c_str());
      }
    }
    if (folder) {
      // The folder's own signature stays zero until a remote pass has listed
      // it: what is inside is not uploaded yet.
      int made = 0;
      code = putRowWithParents(context.journal(), journalPath, sync::FileJournal::kTypeFolder,
                               sync::VersionSignature{}, 0, 0, &made) == 0
                 ? codes::kOk
                 : codes::kLocalFailure;
      if (code == codes::kOk) {
        queueFolderEntries(context, localPath);
        queueMadeFolders(context, localPath, made);
      }
    } else if (code != codes::kConflict) {
      log_write(kLogError, kModuleSync, "varnelo_meta_mkdir return code:[%d]", code);
    }
  }
  context.uploadDone(code, localPath);
  return code;
}

void queueFolderEntries(Context& context, const std::string& localFolder) {
  LocalListing listing;
  if (listLocalFolder(localFolder, listing)) return;
  for (const auto& e : listing.entries)
    context.updating().add(files::joinPath(localFolder, e.name));
  for (const auto& twin : listing.twins) context.updating().add(files::joinPath(localFolder, twin));
}

void queueMadeFolders(Context& context, const std::string& localPath, int made) {
  std::string folder = files::parentPath(localPath);
  for (; made > 0 && folder.size() > context.localRoot().size(); --made) {
    queueFolderEntries(context, folder);
    folder = files::parentPath(folder);
  }
}

int deleteRemote(Context& context, const std::string& localPath, const std::string& remotePath) {
  if (context.isStopping()) return codes::kStopped;
  if (SmallUploads* window = context.smallUploads()) window->drain();
  const std::string journalPath = sync::journalPathOf(remotePath);
  int64_t id = 0;
  if (context.journal().lookupPath(journalPath, id) != 0) return codes::kOk;
  context.uploadStarted(localPath);
  const int code = deleteIfUnchanged(context, remotePath);
  if (code == codes::kOk) {
    if (chunkcache::ChunkCache* cache = context.chunkCache()) cache->onRemove(localPath);
  }
  context.uploadDone(code, localPath);
  if (code != codes::kOk && code != codes::kUnchanged && !context.isStopping()) {
    // The path is gone, so uploadDone does not keep it; a deletion that
    // failed is tried again like any failed upload.
    context.retry().add(localPath);
    log_write(kLogError, kModuleRemove, "remote delete failed:[%s], retry it later",
              localPath.c_str());
  }
  return code;
}

}  // namespace varnelo::uploader
