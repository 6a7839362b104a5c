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
//
// When the service takes batches (SyncSettings::putBatchFiles), small files
// go up together (PutBatchRequest): a batch fills while files are planned
// and is posted when full, when its oldest file is to be completed, or at a
// drain; the window then holds several batches, so the sync thread plans
// the next one while the service applies the last. The commit intents of a
// batch's files are committed before it is posted. Each file still
// completes on its own, in submit order, with its own small put's result.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "Context.h"
#include "EngineSqlite.h"
#include "IoUpload.h"
#include "PutBatchRequest.h"

namespace varnelo::uploader {

class SmallUploads {
 public:
  static constexpr size_t kBatchFiles = 64;
  static constexpr uint64_t kBatchMs = 100;
  // Batched puts in flight at once (the one filling counts).
  static constexpr size_t kPutBatchesInFlight = 3;
  // How often a wait for a batch looks for a stop.
  static constexpr uint32_t kStopPollMs = 100;

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
  // Files in flight at most: `limit`, or a few batches' worth.
  size_t limit() const;
  // Adds a planned small file to the filling batch, posting the batch
  // first when the file would not fit.
  void addToPutBatch(Flight& flight);
  // Posts the filling batch.
  void postPutBatch();
  // Opens the shared journal transaction, or commits it when it is full or
  // old and opens the next.
  void batchNext();
  // Commits the shared transaction before a request is posted.
  void commitIntent();

  Context& context_;
  const size_t limit_;
  std::deque<std::unique_ptr<Flight>> flights_;
  std::shared_ptr<PutBatchRequest> filling_;  // the batch not posted yet, or null
  // The local paths in flight, letters folded as strcasecmp folds them
  // (ASCII), with how many flights hold each: holds() is asked for every
  // file, and a window of several batches is too long to walk each time.
  std::unordered_map<std::string, size_t> held_;
  std::unique_ptr<sqlite::Batch> batch_;  // the completions' journal transaction
  size_t batchFiles_ = 0;
  uint64_t batchStart_ = 0;
};

// uploadFile's last step: the window when the context has one and takes the
// job, else the upload runs here (after the window drained).
void runUpload(Context& context, UploadJob& job);

}  // namespace varnelo::uploader
