// Completion counting of the remote pass. Each listed folder has a job; every
// operation scheduled in the folder (a download, a removal, a subfolder's
// job) holds one count on it, and so does the folder's own listing. When the
// count drops to zero the job is complete: it writes the folder's version
// signature to the journal only when nothing below it failed, then finishes
// in its parent's job with the same outcome. So a failure anywhere below a
// folder leaves that folder and every folder above it to be listed again.
// A folder that holds on the service what this computer leaves out (an
// excluded folder, a name or path it cannot store) records an all-zero
// signature instead, and so does every folder above it: its version covers
// entries this computer never had, so it must never read as "all of it is
// here" (a local deletion of the folder weighs it entry by entry).
// Counters are atomic; the remote pass drives jobs from the sync thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "TempNames.h"

namespace varnelo {

// What a complete job needs from its surroundings (shared by all jobs of a pass).
struct FolderJobHooks {
  std::function<bool()> stopping;
  std::function<void(const std::string& journalPath, const Signature&)> writeSignature;
};

class FolderJob {
 public:
  // A job for the folder at `journalPath`, expecting `signature` (none for
  // the root of a pass). It starts with one count for its own listing and
  // holds one count on `parent` until it completes.
  static std::shared_ptr<FolderJob> make(std::string journalPath,
                                         std::optional<Signature> signature,
                                         std::shared_ptr<FolderJob> parent,
                                         const FolderJobHooks* hooks);

  FolderJob(const FolderJob&) = delete;
  FolderJob& operator=(const FolderJob&) = delete;

  // One more operation below this folder.
  void schedule() { pending_.fetch_add(1); }
  // An operation (or the folder's own listing) finished.
  void finish(bool ok);
  // An entry of this folder on the service is not synced here.
  void leaveOut() { partial_.store(true); }

  const std::string& journalPath() const { return journalPath_; }
  bool complete() const { return pending_.load() == 0; }
  bool failed() const { return failures_.load() > 0; }

 private:
  FolderJob(std::string journalPath, std::optional<Signature> signature,
            std::shared_ptr<FolderJob> parent, const FolderJobHooks* hooks)
      : journalPath_(std::move(journalPath)),
        signature_(signature),
        parent_(std::move(parent)),
        hooks_(hooks) {}

  const std::string journalPath_;
  const std::optional<Signature> signature_;
  std::shared_ptr<FolderJob> parent_;  // released when this job completes
  const FolderJobHooks* hooks_;
  std::atomic<int> pending_{1};
  std::atomic<int> failures_{0};
  std::atomic<bool> partial_{false};  // set by leaveOut(), here or below
};

}  // namespace varnelo
