#include "Download.h"

#include <cstdint>
#include <string>
#include <vector>

#include "DeletionHold.h"
#include "FileJournal.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "RemotePass.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "platform/files.h"

namespace varnelo::downloader {

namespace files = platform::files;

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
  RemotePass pass(context, fullRecheck);
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
