// One remote pass: the walk over the service's folders from "home" down.
// Each folder's listing is merged with its journal rows and local entries,
// and every difference becomes work: a local folder made, a file downloaded
// (FileDownload.h), an entry left out or reported, or a removal that waits
// until the walk is done so that all of them are weighed together by the
// deletion guard. Made by syncDir (Download.h) for each pass; sync thread
// only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ArrivedContent.h"
#include "Channel.h"
#include "Context.h"
#include "DownloadCompletion.h"
#include "DownloadWindow.h"
#include "FileJournal.h"
#include "FolderJob.h"
#include "ListedContent.h"
#include "ListingAhead.h"
#include "LocalListing.h"
#include "PlacementBatch.h"
#include "RemoteListing.h"

namespace varnelo::downloader {

class RemotePass {
 public:
  RemotePass(Context& context, bool fullRecheck);

  // Completes every download still in flight, and commits their rows.
  void drainDownloads();

  // Syncs the folder at `remotePath` and, through the work it starts, all
  // below it; `expected` is the version its parent's listing reported.
  int folder(const std::string& remotePath, const std::string& localFolder,
             std::optional<Signature> expected, const std::shared_ptr<FolderJob>& parent);

  // Carries out the removals the walk found, unless they are too many at
  // once: then they are held, and their folders stay out of step so that
  // the next pass finds them again.
  void finishRemovals();

 private:
  struct Removal {
    std::shared_ptr<FolderJob> job;
    std::string localPath;
    std::string journalPath;
    // Case twins beside `localPath` that were left out for it: once it is
    // removed they are weighed again (one may take the name, the others are
    // reported as left out), never removed with it.
    std::vector<std::string> twins;
  };

  // The listing against the folder's journal rows (sorted by name) and its
  // local entries.
  void merge(const std::string& remotePath, const std::string& localFolder,
             const std::vector<RemoteEntry>& remote, const std::vector<sync::JournalEntry>& rows,
             const std::vector<std::string>& dropped, const std::shared_ptr<FolderJob>& job);
  // Small files (1..limit bytes) of the listing that the rows do not hold in
  // the listed version.
  static size_t smallFilesToFetch(const std::vector<RemoteEntry>& remote,
                                  const std::vector<sync::JournalEntry>& rows, uint64_t limit);
  // A known folder whose listing shows this many small files to fetch is
  // listed again with their content.
  static constexpr size_t kListAgainFor = 16;

  // The listing of a folder, fetched ahead when the walk expected it.
  int list(const std::string& remotePath, const std::string& localFolder, bool withContent,
           std::vector<RemoteEntry>& entries, Signature& listed, std::vector<std::string>& dropped,
           bool& leftOut);
  // The walk reached `remotePath` (a child of the innermost folder it
  // walks): the folders expected before it were passed by.
  void reached(const std::string& remotePath);
  // The child folders of a listed folder that the walk is expected to
  // enter, in its order: those without a folder row, and those whose
  // version changed (every one in a full pass). Their listings are asked
  // for as the walk gets near them.
  void expectChildren(const std::string& remotePath, const std::vector<RemoteEntry>& remote,
                      const std::vector<sync::JournalEntry>& rows);
  void askAhead();
  // The folder's expected children that were not walked are passed by.
  void leaveFolder();

  // Local entries of this folder whose upload the service refused because
  // the name was taken (409). While the listing holds the name, the walk
  // keeps both versions (or tries again at the next pass). One without a
  // journal row whose rival is gone would be sent by nothing but the next
  // full scan, so it is queued for upload here; one with a row is weighed
  // by the walk against it.
  void resendRefused(const std::string& localFolder, const std::vector<RemoteEntry>& remote,
                     const std::vector<sync::JournalEntry>& rows);
  static std::string_view keyOf(const RemoteEntry& e) { return e.key; }
  static std::string_view keyOf(const sync::JournalEntry& r) { return r.name; }
  static std::string_view keyOf(const std::string& key) { return key; }

  // Runs one operation counted in `job`; true when it succeeded.
  template <class Op>
  bool runOp(const std::shared_ptr<FolderJob>& job, Op op);

  // Creates the local folder of a remote folder (a synced file of that name
  // goes first, a changed or unknown one is kept as a conflicted copy) and
  // its journal row with a zero signature until its own pass completes.
  int makeLocalFolder(const std::string& localPath, const std::string& journalPath,
                      const sync::JournalEntry* fileRow);

  // Downloads one file, counted in `folder` until it is complete. A file of
  // at most one chunk goes into the window: its transfer overlaps those of
  // the files around it, and it is completed later, in order. Anything
  // larger fetches its chunks in parallel here, and then goes into the
  // window to be synced to disk while the next files come down.
  void download(const RemoteEntry& entry, const std::string& remotePath,
                const std::string& localPath, const std::string& journalPath,
                const std::shared_ptr<FolderJob>& folder);

  // True when everything the removal would take off this computer arrived
  // under other names in this pass (the entry was renamed or moved on the
  // service): no deletion for the guard to weigh.
  bool movedOn(const Removal& r);

  Context& context_;
  const bool full_;
  const TwinChooser chooser_;
  FolderJobHooks hooks_;
  std::vector<Removal> removals_;
  PartLeftovers leftovers_;
  ArrivedContent arrived_;  // what this pass placed, for telling a move from a deletion
  // What the listings' small-file content may hold at once: listings are
  // nested (a folder's entries wait while the folders among them are
  // walked), each reply carries at most a few MiB.
  static constexpr size_t kListedAllowance = 16 << 20;
  ListedAllowance listedAllowance_{kListedAllowance};
  PlacementBatch placements_;  // the rows of placed files, not yet committed
  // The folders the walk is expected to enter, innermost folder last: for
  // each folder being walked, its child folders not reached yet.
  struct Expected {
    std::string remotePath;
    bool withContent = false;  // listed with small files' content (a folder new here)
  };
  std::vector<std::deque<Expected>> expected_;
  // Declared after what its fetches use (the allowance), so that it is
  // joined first.
  ListingAhead ahead_;
  // The threads the window's transfers run on: as many as it has files in
  // flight, not the I/O channel's, whose count bounds the chunks of large
  // files at once. Joined after the window drained.
  std::unique_ptr<mthread::Channel> transfers_;
  // Declared last: destroyed (and so drained) while everything its flights
  // use is still there.
  std::unique_ptr<DownloadWindow> window_;
};

}  // namespace varnelo::downloader
