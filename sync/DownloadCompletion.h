// The completion of one download on the sync thread: the finished part file
// is sealed (its size checked, flushed, given the remote time), what holds
// the name is checked again (a synced folder is cleared, a changed file is
// kept as a conflicted copy), the file is moved into place with one atomic
// rename and its journal and chunk-index rows are written in the pass's
// placement batch. Used by FileDownload.h; the remote pass (RemotePass.h)
// shares the helpers below.
#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "ArrivedContent.h"
#include "Context.h"
#include "DownloadWindow.h"
#include "FileJournal.h"
#include "IoDownload.h"
#include "PlacementBatch.h"
#include "TransferCallback.h"
#include "platform/file.h"
#include "platform/files.h"

namespace varnelo::downloader {

// Moves a local entry out of the way under its conflicted-copy name and
// queues the copy for upload. 0 or the rename's error.
std::error_code moveAside(Context& context, const std::string& localPath);

// The part files the temporary folder held when a pass first placed a
// file. Only these can be of an older version of a file the pass places
// (its own part files are named for the versions it fetches and leave when
// placed), so the folder is listed once per pass instead of once per file.
struct PartLeftovers {
  bool listed = false;
  std::vector<std::string> names;
};

// Settles the pass's batch of placed files (only when it is due, unless
// `now`); a folder that could not be flushed is reported.
void settlePlacements(Context& context, PlacementBatch& placements, bool now);

// Completion of one download; also the callback its chunk tasks report to.
class DownloadFileCallback final : public TransferCallback {
 public:
  // `window` holds the downloads in flight beside this one, or is null.
  DownloadFileCallback(Context& context, DownloadJob& job, const DownloadWindow* window,
                       PartLeftovers& leftovers, ArrivedContent& arrived,
                       PlacementBatch& placements)
      : TransferCallback(context, context.downloadMeters(), job.localPath),
        job_(job),
        window_(window),
        leftovers_(leftovers),
        arrived_(arrived),
        placements_(placements) {}

  // True when the local file already holds exactly the remote version.
  bool verifyConflict() override;

  // Makes the finished part file durable: its size checked, flushed to
  // disk, closed and given the remote time. Touches only the part file, so
  // a download in flight does it on its I/O thread; 200 or -4 (a part file
  // of the wrong size is removed).
  int seal(platform::File& temp);

  // Whether the part file's disk lacks the space for the rest of the file
  // and a little more (a full disk, which a failed write most often means).
  // What the part holds is its blocks, not its size: chunks written out of
  // order leave holes, and a part whose last chunk landed first has the
  // whole size while most of it is still to be written. A complete part
  // file needs no more space to be placed: it stays.
  bool noRoomToFinish() const;

  // Finishes the download whose transfer ended with `code`.
  int run(int code, platform::File& temp);

 private:
  // Clears the way for the file when a folder stands at its path.
  // `row` is the path's journal row, or null when it has none.
  int clearFolder(const sync::JournalEntry* row);

  // Places the sealed part file and records it.
  int complete();

  // Part files of older versions of this file (interrupted downloads of a
  // version the service has since replaced) would stay for ever. A part
  // file that a download in flight writes (a file of the same name in
  // another folder) stays.
  void removeSupersededParts();

  static void listParts(const std::string& folder, std::vector<std::string>& names);

  // Removes those of `names` that are this file's older versions and no
  // download in flight writes; they leave `names`.
  void removeSupersededAmong(const std::string& folder, std::vector<std::string>& names);

  DownloadJob& job_;
  const DownloadWindow* window_;
  PartLeftovers& leftovers_;    // the pass's
  ArrivedContent& arrived_;     // the pass's
  PlacementBatch& placements_;  // the pass's
  bool sealed_ = false;         // set by seal(), read after the transfer's hand-back
  std::optional<platform::files::EntryInfo> placed_;  // what complete() recorded, sync thread
};

}  // namespace varnelo::downloader
