// The units of work that move one chunk: an upload task PUTs one chunk of a
// large file (UploadChunkTask) or a whole small file (UploadSmallFileTask);
// a DownloadChunkTask copies one chunk from a local file that already holds
// it or fetches it with a ranged GET, checks it against its key and writes
// it in place. Tasks run on the I/O channel's threads (or, for the small
// file, on the sync thread); each owns its buffer and sink and touches its
// file's TransferGroup only through the group's counters.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "Digest.h"
#include "TransferGroup.h"
#include "platform/file.h"

struct varnelo_credentials;

namespace varnelo {

struct UploadChunkInfo {
  std::string path;  // local file
  uint64_t offset = 0;
  uint32_t length = 0;
  std::string url;
  int attempts = 0;
  std::vector<std::string> headers;  // extra header lines, may be empty
  // When set, every attempt is signed anew with these credentials (a PUT of
  // `url`): the service refuses a nonce it has seen, so a retry of a
  // request that reached it must not send the same signature again.
  const varnelo_credentials* signer = nullptr;
};

class UploadDataTask : public UploadChunkInfo {
 public:
  UploadDataTask(TransferGroup& group, const ChunkKey& key) : group_(group), key_(key) {}
  virtual ~UploadDataTask() = default;

  // Sends the chunk, retrying up to the group's attempts; ends by counting
  // itself finished in the group.
  void run();
  int result() const { return result_; }
  const ChunkKey& key() const { return key_; }

 protected:
  // Turns the transfer's code and the reply body into the task's result.
  virtual int parseResult(int status, const std::string& body) = 0;
  // True when a successful request already made the new version (so a
  // change seen after it cannot undo it).
  virtual bool commitsOnSend() const { return false; }
  TransferGroup& group_;

 private:
  int attempt(int64_t& sent);

  const ChunkKey key_;
  int result_ = -1;
};

class UploadChunkTask final : public UploadDataTask {
 public:
  using UploadDataTask::UploadDataTask;

 protected:
  int parseResult(int status, const std::string& body) override;
};

class UploadSmallFileTask final : public UploadDataTask {
 public:
  using UploadDataTask::UploadDataTask;

 protected:
  int parseResult(int status, const std::string& body) override;
  bool commitsOnSend() const override { return true; }
};

class DownloadChunkTask {
 public:
  // `target` is the open temporary file (shared by the file's tasks, which
  // write disjoint ranges); `url` the file's data address.
  DownloadChunkTask(TransferGroup& group, const ChunkKey& key, const platform::File& target,
                    uint64_t offset, uint64_t length, std::string url)
      : group_(group),
        key_(key),
        target_(target),
        offset_(offset),
        length_(length),
        url_(std::move(url)) {}

  void run();
  int result() const { return result_; }

 private:
  // 200 when a local file held the chunk; -103 when stopping; -4 when the
  // part file could not be written; else not found.
  int copyFromLocal();
  int fetch(int64_t& written);
  // Logs why the part file could not be written; returns -4.
  int writeFailed(const std::error_code& error) const;

  TransferGroup& group_;
  const ChunkKey key_;
  const platform::File& target_;
  const uint64_t offset_;
  const uint64_t length_;
  const std::string url_;
  int result_ = -1;
};

}  // namespace varnelo
