// One file on its way down: its job, callback and part file live here from
// the decision to download it until the sync thread has completed it, and
// its folder's job counts it as pending all that time. Made by the remote
// pass (RemotePass.h) on the sync thread; a file of one chunk goes into the
// pass's DownloadWindow, whose I/O threads run its transfer().
#pragma once

#include <memory>
#include <string>

#include "ArrivedContent.h"
#include "Context.h"
#include "DownloadCompletion.h"
#include "DownloadWindow.h"
#include "FolderJob.h"
#include "IoDownload.h"
#include "PlacementBatch.h"
#include "TransferCodes.h"
#include "platform/file.h"

namespace varnelo::downloader {

class FileDownload final : public DownloadWindow::Flight {
 public:
  FileDownload(Context& context, DownloadJob job, std::shared_ptr<FolderJob> folder,
               const DownloadWindow* window, PartLeftovers& leftovers, ArrivedContent& arrived,
               PlacementBatch& placements)
      : context_(context),
        job_(std::move(job)),
        callback_(context, job_, window, leftovers, arrived, placements),
        folder_(std::move(folder)) {}

  // Sync thread: the part file is named, in a temporary folder that
  // exists. 200, or the code the download then ends with.
  // The part file lies in the hidden temporary folder and is seen by no
  // one; the folder's device and inode are enough here (an unmounted or
  // replaced folder gets no temporary folder), the marker is read before
  // the file is placed.
  int name();

  // On the sync thread, the chunks in parallel on the I/O channel.
  int transferHere();

  // A file whose chunks came down already (on the sync thread) goes into
  // the window only to be made durable: its sync to disk runs on an I/O
  // thread while the next files come down, and it is placed in order.
  void sealInWindow() { sealOnly_ = true; }

  // On an I/O thread: creating the part file is most of a small file's
  // cost on many file systems, and it touches nothing the sync thread reads
  // (the name is held by the window from submit() on).
  void transfer() override;
  void complete(bool transferred) override { finish(transferred ? code_ : codes::kOtherFailure); }
  const std::string& partPath() const override { return job_.tempPath; }

  // Completes the download whose transfer ended with `code` (the final
  // rename and the journal row when it succeeded) and counts it done in its
  // folder's job.
  void finish(int code);

 private:
  // Opens (or creates) the part file named by name(); an interrupted
  // download's part file is kept and resumed.
  int openPart();

  Context& context_;
  DownloadJob job_;
  DownloadFileCallback callback_;
  platform::File temp_;
  const std::shared_ptr<FolderJob> folder_;
  int code_ = codes::kOtherFailure;  // written by transfer(), read by complete()
  bool sealOnly_ = false;            // set before the flight is submitted
};

}  // namespace varnelo::downloader
