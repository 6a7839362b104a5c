#include "FolderJob.h"

#include "Log.h"

namespace varnelo {

std::shared_ptr<FolderJob> FolderJob::make(std::string journalPath,
                                           std::optional<Signature> signature,
                                           std::shared_ptr<FolderJob> parent,
                                           const FolderJobHooks* hooks) {
  if (parent) parent->schedule();
  return std::shared_ptr<FolderJob>(
      new FolderJob(std::move(journalPath), signature, std::move(parent), hooks));
}

void FolderJob::finish(bool ok) {
  if (!ok) failures_.fetch_add(1);
  if (pending_.fetch_sub(1) != 1) return;
  const bool success = failures_.load() == 0;
  const bool partial = partial_.load();
  if (success && signature_ && hooks_ && !(hooks_->stopping && hooks_->stopping())) {
    if (hooks_->writeSignature)
      hooks_->writeSignature(journalPath_, partial ? Signature{} : *signature_);
    log_write(kLogInfo, kModuleSync,
              partial ? "write parent sig (partly synced):[%s]" : "write parent sig:[%s]",
              journalPath_.c_str());
  }
  // The parent may complete (and go) now; this job keeps nothing of it.
  std::shared_ptr<FolderJob> parent = std::move(parent_);
  if (!parent) return;
  if (partial) parent->leaveOut();
  parent->finish(success);
}

}  // namespace varnelo
