// The transfer of one local file to the service: UploadFile::run cuts it
// into chunks and sends it (a small file in one request; otherwise
// prepare_put, the chunks the service lacks on the I/O channel, then
// commit_put from the callback), and UploadFileCallback::run completes it
// (journal row, chunk index, the uploadDone report). Both run on the sync
// thread, and only the chunk tasks run on the I/O threads; or, for a file of
// one chunk in flight beside others, its requests run on one I/O thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Context.h"
#include "Digest.h"
#include "FileJournal.h"
#include "TempNames.h"
#include "TransferCallback.h"
#include "platform/time.h"
#include "varnelo/meta.h"

namespace varnelo {

// What one upload needs, made by uploadFile from what it read on disk.
struct UploadJob {
  std::string localPath;
  std::string remotePath;
  std::string journalPath;
  bool journalKnowsFile = false;    // the upload replaces a synced file
  bool journalKnowsFolder = false;  // a synced folder became a file
  uint64_t fileSize = 0;
  platform::FileTime lastWrite = 0;
  sync::FileStamp stamp;          // change time and inode, read with size and time
  platform::FileTime readAt = 0;  // when the content began to be read (wall clock)
  std::optional<Signature> base;  // the journal's version of the file
  std::vector<ChunkKey> keys;
  // The new version was committed already (every chunk was known to be on
  // the service, so no prepare was needed); the callback only records it.
  bool committed = false;
};

namespace uploader {

// The completion of one upload, and the callback its chunk tasks report to.
class UploadFileCallback final : public TransferCallback {
 public:
  UploadFileCallback(Context& context, UploadJob& job)
      : TransferCallback(context, context.uploadMeters(), job.localPath), job_(job) {}

  // Reads the remote entry and compares its chunk keys with the local file's.
  bool verifyConflict() override;

  // Finishes the upload: `code` is the transfer's result (200 sent in chunks,
  // -108 sent as a small file, anything else a failure). Ends with uploadDone.
  void run(int code);

  // commit_put of the job's keys into `entry`: its code.
  int commit();

  // The new version: from the small-file reply or from commit_put.
  varnelo_meta_entry entry{};

 private:
  int complete(int code);
  UploadJob& job_;
};

}  // namespace uploader

class UploadSmallFileTask;
struct TransferGroup;
struct PutBatchMember;

class UploadFile {
 public:
  UploadFile(Context& context, UploadJob& job) : context_(context), job_(job) {}
  // Sends the file and then runs the callback (also after a failure).
  void run();

  // A file that goes up in one request: true when the job is one.
  bool isSmall() const;
  // The first half of a small file's upload, for a caller that runs the
  // request elsewhere: its keys, then the request's task in `group` (left
  // empty when the request cannot be made). 200, or the code to end the
  // upload with.
  int prepareSmall(uploader::UploadFileCallback& callback, TransferGroup& group,
                   std::unique_ptr<UploadSmallFileTask>& task);
  // The second half, on the sync thread: the small request's result, or,
  // when it failed in a way a chunked upload may mend, the chunked upload's.
  int finishSmall(uploader::UploadFileCallback& callback, int requestResult);

  // A small file that goes up in a batch with others: everything before
  // the request, as prepareSmall, then what the batch sends of it. 200, or
  // the code to end the upload with.
  int prepareBatched(uploader::UploadFileCallback& callback, PutBatchMember& member);

  // A file of one chunk, for a caller that runs its requests elsewhere.
  // First on the sync thread: everything before the transfer (its key).
  int prepareOneChunk(uploader::UploadFileCallback& callback) { return plan(callback); }
  // Then on an I/O thread: prepare_put, the chunk if the service lacks it
  // and commit_put, one after the other on that thread (never waiting for
  // other work of the channel). The callback then only records the version:
  // 200 committed, -108 the service held it already, else the failure.
  int sendOneChunkHere(uploader::UploadFileCallback& callback);

 private:
  int send(uploader::UploadFileCallback& callback);
  int sendSmall(uploader::UploadFileCallback& callback);
  int sendChunks(uploader::UploadFileCallback& callback, bool onThisThread = false);
  // Content whose every chunk the local chunk index knows (a copy or a move of
  // a synced file) went up or came down before, so the service holds those
  // chunks: the version is committed at once, without a prepare. False when
  // that was not tried or the service refused it; the usual way follows then.
  bool commitKnownChunks(uploader::UploadFileCallback& callback);
  // Everything before the transfer: quota, keys, a folder in the way.
  int plan(uploader::UploadFileCallback& callback);
  int makeSmallTask(uploader::UploadFileCallback& callback, TransferGroup& group,
                    std::unique_ptr<UploadSmallFileTask>& task);

  Context& context_;
  UploadJob& job_;
};

}  // namespace varnelo
