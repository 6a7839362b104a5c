// Small files that go up together in one request (POST /2/put_batch) when
// the service offers it. The sync thread plans each file as for its own
// small put (keys, commit intent) and adds it here; one I/O thread then
// reads the files, sends them and leaves one result per file, which is the
// code the file's own small put would have had: 200 (version in the file's
// entry), 409 the service holds another version, -109 the file changed
// since it was planned, -103 stopping, or the failure (400 bytes that no
// longer match the key, a failed or malformed reply, ...), which the sync
// thread hands to UploadFile::finishSmall as before.
//
// Built and read on the sync thread; run() on one I/O thread between the
// group's addPending() and its taskFinished(), which is run()'s last act.
// Members and their results are read by the sync thread only after the
// group's wait().
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Digest.h"
#include "OperationArena.h"
#include "TempNames.h"
#include "TransferGroup.h"
#include "Transport.h"
#include "platform/time.h"

struct varnelo_credentials;

namespace varnelo {

namespace uploader {
class UploadFileCallback;
}

struct PutBatchMember {
  std::string localPath;
  std::string remotePath;
  ChunkKey key{};
  uint64_t size = 0;
  platform::FileTime lastWrite = 0;  // as planned; a file written since is not sent
  std::optional<Signature> base;
  std::string mimeType;
  std::string editTime;
  uploader::UploadFileCallback* callback = nullptr;  // its flight's; outlives the request
  int result = -1;                                   // written by run()
};

class PutBatchRequest {
 public:
  PutBatchRequest(const varnelo_credentials* credentials, uint32_t chunkSize, uint32_t timeoutMs,
                  uint32_t attempts)
      : credentials_(credentials), chunkSize_(chunkSize) {
    group.timeoutMs = timeoutMs;
    group.attempts = attempts;
  }

  // Sync thread, before the request is posted: the member's index.
  size_t add(PutBatchMember member);
  size_t files() const { return members_.size(); }
  uint64_t bytes() const { return bytes_; }
  const PutBatchMember& member(size_t index) const { return members_[index]; }

  // I/O thread: reads, sends, sets every member's result, then finishes in
  // the group.
  void run();

  TransferGroup group;
  // Ends the request in flight (a stop or a pause); any thread.
  http::CancelSignal cancel;
  bool posted = false;            // sync thread: the channel took the request
  mthread::OperationArena arena;  // holds the request's work item

 private:
  // Each member's bytes, or its result when it cannot go (changed,
  // unreadable, stopping).
  std::vector<std::string> readContents();
  void send(std::vector<std::string>& contents);
  bool stopping() const;

  const varnelo_credentials* credentials_;
  const uint32_t chunkSize_;
  std::vector<PutBatchMember> members_;
  uint64_t bytes_ = 0;
};

}  // namespace varnelo
