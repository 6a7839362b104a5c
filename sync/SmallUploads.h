// The uploads of small files and of files of one chunk of one idle pass
// that are in flight at once. The sync thread still decides every file
// (uploadFile) and completes every file (journal row, chunk index,
// uploadDone) itself, one at a time and in the order it submitted them; only
// the requests run on the I/O channel (a small file's one request; a
// one-chunk file's prepare, chunk and commit, one after the other on one
// thread), up to `limit` files together, so the service's and the network's
// latency of many files overlap.
//
// Sync thread only (the requests' tasks run on the I/O threads and touch a
// flight only through its transfer group). Anything that is not a small-file
// upload drains the window first, so it sees every earlier file completed.
//
// The journal rows of files completed in quick succession share one write
// transaction: at most kBatchFiles files or kBatchMs long, committed before
// the thread waits for a file still in flight and at every drain (which
// folders, deletions and larger files make first). Each row is written only
// after the service confirmed its file, as before. A crash loses at most
// that transaction's rows, as a crash right after the requests would; the
// next comparison then finds those files the same on both sides.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "Context.h"
#include "EngineSqlite.h"
#include "IoUpload.h"

namespace varnelo::uploader {

class SmallUploads {
 public:
  static constexpr size_t kBatchFiles = 64;
  static constexpr uint64_t kBatchMs = 100;

  SmallUploads(Context& context, size_t limit);
  // Completes what is still in flight.
  ~SmallUploads();
  SmallUploads(const SmallUploads&) = delete;
  SmallUploads& operator=(const SmallUploads&) = delete;

  // Takes (moves) the upload of `job` when it is a file of at most one chunk
  // that needs nothing else first; false leaves `job` to the caller (after a
  // drain).
  bool submit(UploadJob& job);
  // Completes every upload in flight, oldest first.
  void drain();
  // True when `localPath`, or a name differing from it only in letter case,
  // is in flight.
  bool holds(const std::string& localPath) const;
  size_t inFlight() const { return flights_.size(); }

 private:
  struct Flight;
  void completeOldest();
  // Opens the shared journal transaction, or commits it when it is full or
  // old and opens the next.
  void batchNext();
  // Commits the shared transaction before a request is posted.
  void commitIntent();

  Context& context_;
  const size_t limit_;
  std::deque<std::unique_ptr<Flight>> flights_;
  std::unique_ptr<sqlite::Batch> batch_;  // the completions' journal transaction
  size_t batchFiles_ = 0;
  uint64_t batchStart_ = 0;
};

// uploadFile's last step: the window when the context has one and takes the
// job, else the upload runs here (after the window drained).
void runUpload(Context& context, UploadJob& job);

}  // namespace varnelo::uploader
