// PlacementBatch: the journal rows of the files one remote pass places,
// committed together once the folders that took those files are flushed.
//
// A placed file's row must never reach the disk before its name does: after
// a power cut, a row whose file vanished with its unwritten folder entry
// would read as a deletion made here and be sent to the service. Flushing
// the folder right after each rename keeps that order, at one folder fsync
// per file, most of what placing a small file costs. Here the rows of many
// files wait in one open journal transaction instead, and each folder that
// took files is flushed once for all of them, right before the commit. The
// rows are visible to the engine (the same connection) as soon as they are
// written; only their commit waits.
//
//   PlacementBatch batch(journal, files::syncDirectory);
//   batch.open();                          // before a file's rows are written
//   ... rename into `folder` ...
//   if (!batch.defer(folder)) flush `folder` now;  // no batch is open
//   ... rows written ...
//   batch.settleIfDue();                   // after each file
//   batch.settle();                        // before a long wait, and at the end
//
// Sync thread only, like the journal it writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "FileJournal.h"

namespace varnelo::downloader {

class PlacementBatch {
 public:
  using Flush = std::function<std::error_code(const std::string& folder)>;
  // When a batch is settled by settleIfDue(): its files or its age.
  struct Limits {
    size_t files = 64;
    std::chrono::milliseconds age{100};
  };

  PlacementBatch(sync::FileJournal& journal, Flush flush);
  PlacementBatch(sync::FileJournal& journal, Flush flush, Limits limits);
  // Settles what is still open.
  ~PlacementBatch();
  PlacementBatch(const PlacementBatch&) = delete;
  PlacementBatch& operator=(const PlacementBatch&) = delete;

  // Begins the batch's transaction unless it is open already. When the
  // journal cannot begin one (it is in another transaction, or locked),
  // nothing is deferred: defer() says so.
  void open();
  // A file was just moved into `folder`, and its rows are written next:
  // true when the folder's flush waits for settle(); false when no batch is
  // open (it never began, or a failure ended it), and the caller flushes
  // the folder itself before writing the rows.
  bool defer(const std::string& folder);
  // Flushes every folder that took files, then commits. A folder that
  // cannot be flushed rolls the whole batch back: the files stay where they
  // are, and the next pass finds them without rows, as after a crash before
  // the commit. Returns that flush's error, with the folder in `failed`.
  std::error_code settle(std::string* failed = nullptr);
  // settle() once the batch holds its limit of files or is older than the
  // limit's age.
  std::error_code settleIfDue(std::string* failed = nullptr);
  size_t deferred() const { return files_; }

 private:
  sync::FileJournal& journal_;
  const Flush flush_;
  const Limits limits_;
  std::unique_ptr<sqlite::Batch> batch_;
  std::vector<std::string> folders_;  // each folder once
  size_t files_ = 0;
  std::chrono::steady_clock::time_point since_;  // the first deferral
};

}  // namespace varnelo::downloader
