// DeletionHold: the big-delete guard. Before one side carries out a batch of
// deletions (the local changes of one idle pass, or the remote deletions one
// remote pass found), the batch is weighed here: when it would remove more
// than `percent` of the synced files and more than `minFiles` files, or a
// whole top-level folder of more than `folderFiles` files, the whole batch
// is held. Nothing held is deleted; the caller skips it (it is found again
// by the next scan or pass) and everything else goes on. confirm() releases
// what is held: those paths then pass uncounted.
//
// One deletion by the user may reach a side in several batches (a long
// `rm -r`, a trickle of removals). Batches weighed less than kRunGapMs after
// the one before form a run: what the run let through counts with each new
// batch, and once the run held a batch, every later batch of it is held too.
// A top-level folder whose own deletion comes last (as `rm -r` removes it)
// counts the files of it that the run let through before.
//
// restore() is the other answer: what is held is taken out and handed to the
// sync thread (takeRestoring()), which brings each entry back instead of
// deleting it.
//
// decide() and takeRestoring() belong to the sync thread; confirm(),
// restore(), list() and the counts may be used from any thread (one lock
// guards the sets).
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
    // The local path as this computer spells it (the journal keeps names
    // folded); what the user is shown. Empty: shown from journalPath.
    std::string localPath{};
  };

  // One held entry, as listed to the user or handed over for a restore.
  struct Held {
    Side side = Side::Local;
    std::string journalPath;
    std::string localPath;
    uint64_t files = 0;
  };

  // A run of batches ends after this long without one.
  static constexpr uint64_t kRunGapMs = 2000;

  explicit DeletionHold(DeletionLimits limits) : limits_(limits) {}
  DeletionHold(const DeletionHold&) = delete;
  DeletionHold& operator=(const DeletionHold&) = delete;

  // True when the batch must be held; its candidates are then recorded as
  // held (their files counted in heldFiles()). Candidates released by
  // confirm() leave the batch uncounted and are forgotten once they pass.
  // `syncedFiles`: the files the journal knows; `nowMs`: a monotonic clock.
  bool decide(Side side, std::vector<Candidate>& batch, uint64_t syncedFiles, uint64_t nowMs);
  // Files that the side's run going on at `nowMs` let through (0: none).
  uint64_t runFiles(Side side, uint64_t nowMs) const;
  // True while the side's run going on at `nowMs` has held a batch.
  bool runHolds(Side side, uint64_t nowMs) const;
  // A new local scan or remote pass: what that side held before is weighed
  // again from scratch, and its run ends. Until settle(), what it held is
  // still listed, counted and answered (confirmed or kept), so that a scan
  // or pass in progress never hides what the user was shown.
  void restart(Side side);
  // The scan or pass that restart() began has weighed its deletions: what
  // it did not hold again is no longer held.
  void settle(Side side);
  // The path is no deletion any more (restored locally): no longer held.
  void forget(const std::string& journalPath);

  // The user's confirmation: everything held now is released.
  void confirm();
  // The user's other answer: everything held now is to be brought back.
  // It leaves the held sets at once and waits for takeRestoring().
  void restore();
  // What restore() handed over and was not yet taken (sync thread); those
  // paths are no longer held, whatever a pass decided meanwhile.
  std::vector<Held> takeRestoring();
  bool restorePending() const;

  uint64_t heldFiles() const;
  uint64_t heldEntries() const;
  // Every held entry: the local side's first, each side by journal path.
  std::vector<Held> list() const;

  const DeletionLimits& limits() const { return limits_; }

 private:
  struct Run {
    uint64_t lastMs = 0;  // when its latest batch was weighed
    uint64_t passed = 0;  // files it let through
    bool held = false;    // it held a batch
    // Of `passed`, per top-level journal path ("home/photos").
    std::map<std::string, uint64_t> passedUnder;
  };

  bool exceeds(const std::vector<Candidate>& batch, uint64_t syncedFiles, const Run& run) const;
  // True while `run` goes on at `nowMs` (its last batch less than
  // kRunGapMs before).
  static bool ongoing(const Run& run, uint64_t nowMs);
  // The side's run at `nowMs`, started anew after a gap.
  Run& runAt(Side side, uint64_t nowMs);

  struct Entry {
    uint64_t files = 0;
    std::string localPath;
  };

  // Under mutex_: the side's shown_ entries overlaid with its held_ ones.
  std::map<std::string, Entry> answerable(size_t side) const;

  const DeletionLimits limits_;
  // Guards held_, shown_, released_, restoring_ and runs_.
  mutable std::mutex mutex_;
  std::map<std::string, Entry> held_[2];   // per side: journal path → entry
  std::map<std::string, Entry> shown_[2];  // held before restart(), until settle()
  std::set<std::string> released_;
  std::vector<Held> restoring_;
  Run runs_[2];
};

}  // namespace varnelo::sync
