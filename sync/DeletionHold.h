// DeletionHold: the big-delete guard. Before one side carries out a batch of
// deletions (the local changes of one idle pass, or the remote deletions one
// remote pass found), the batch is weighed here: when it would remove more
// than `percent` of the synced files and more than `minFiles` files, or a
// whole top-level folder of more than `folderFiles` files, the whole batch
// is held. Nothing held is deleted; the caller skips it (it is found again
// by the next scan or pass) and everything else goes on. confirm() releases
// what is held: those paths then pass uncounted.
//
// decide() belongs to the sync thread; confirm() and the counts may be used
// from any thread (one lock guards the sets).
//
//   std::vector<DeletionHold::Candidate> batch = ...;  // journal paths and file counts
//   if (hold.decide(DeletionHold::Side::Local, batch, syncedFiles)) { /* skip all */ }
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace varnelo::sync {

struct DeletionLimits {
  uint32_t percent = 30;        // share of the synced files
  uint32_t minFiles = 20;       // and more files than this
  uint32_t folderFiles = 1000;  // or a top-level folder with more files than this
};

class DeletionHold {
 public:
  enum class Side { Local, Remote };  // deletions sent to the service / made here

  struct Candidate {
    std::string journalPath;  // "home/..." lower-cased
    uint64_t files = 0;       // synced files it removes (a folder: all below it)
    bool topLevelFolder = false;
  };

  explicit DeletionHold(DeletionLimits limits) : limits_(limits) {}
  DeletionHold(const DeletionHold&) = delete;
  DeletionHold& operator=(const DeletionHold&) = delete;

  // True when the batch must be held; its candidates are then recorded as
  // held (their files counted in heldFiles()). Candidates released by
  // confirm() leave the batch uncounted and are forgotten once they pass.
  // `syncedFiles`: the files the journal knows.
  bool decide(Side side, std::vector<Candidate>& batch, uint64_t syncedFiles);
  // A new local scan or remote pass: what that side held before is weighed
  // again from scratch.
  void restart(Side side);
  // The path is no deletion any more (restored locally): no longer held.
  void forget(const std::string& journalPath);

  // The user's confirmation: everything held now is released.
  void confirm();
  uint64_t heldFiles() const;
  uint64_t heldEntries() const;

  const DeletionLimits& limits() const { return limits_; }

 private:
  bool exceeds(const std::vector<Candidate>& batch, uint64_t syncedFiles) const;

  const DeletionLimits limits_;
  mutable std::mutex mutex_;                 // guards held_ and released_
  std::map<std::string, uint64_t> held_[2];  // per side: journal path → files
  std::set<std::string> released_;
};

}  // namespace varnelo::sync
