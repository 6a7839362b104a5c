// Where the bytes of one chunk go while they arrive, from the network or
// from a local copy: written at the chunk's place in the temporary file,
// hashed as they stream and reported as progress. libcurl hands its write
// callback at most 16 KiB at a time, so the bytes are gathered into blocks
// of kBlockBytes and each block is written with one positional write (one
// system call and one change notification per block instead of per piece).
// Each block is hashed before it is written, outside the write lock (shared
// by the sinks of one file), so one thread hashes while another writes.
// One sink per attempt, used by one thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <system_error>
#include <vector>

#include "Digest.h"
#include "IoCallback.h"
#include "Transport.h"
#include "platform/file.h"

namespace varnelo {

class DownloadSink final : public http::Sink {
 public:
  // `writeLock`, when given, is held around each write into `target`.
  DownloadSink(const platform::File& target, uint64_t offset, uint64_t expected,
               IoCallback* callback, bool timeSamples, std::mutex* writeLock = nullptr)
      : target_(target),
        offset_(offset),
        expected_(expected),
        callback_(callback),
        timeSamples_(timeSamples),
        writeLock_(writeLock) {}

  // Takes at most the expected bytes; anything beyond is dropped (and shows
  // up as a failed key check). Returns 0 (aborting the transfer) only when
  // the engine is stopping, so a pause does not wait for a whole chunk.
  size_t write(const char* data, size_t size) override;

  static constexpr size_t kBlockBytes = 512 * 1024;

  bool ok() const { return ok_; }
  // Why a write into the file failed (a full disk, an I/O error); empty
  // while every write went through. Such a chunk fails on this computer,
  // not on the network, and fetching it again would not help.
  const std::error_code& writeError() const { return writeError_; }
  // Bytes written to the file (and reported as progress) so far.
  uint64_t written() const { return written_; }
  // Writes what is still gathered, then: true when every expected byte was
  // written and they hash to `key`. Bytes gathered but never matched (an
  // error reply's body, a stop) are never written.
  bool matches(const ChunkKey& key) {
    flush();
    return ok_ && written_ == expected_ && sha_.finish() == key;
  }

 private:
  const platform::File& target_;
  const uint64_t offset_;
  const uint64_t expected_;
  IoCallback* callback_;
  const bool timeSamples_;
  std::mutex* const writeLock_;

  void flush();
  void writeOut(const char* data, size_t size);

  Sha1 sha_;
  uint64_t written_ = 0;
  uint64_t taken_ = 0;       // bytes accepted: written_ plus what block_ holds
  std::vector<char> block_;  // gathered bytes not yet written
  int64_t lastTick_ = -1;    // second of the last time-only progress sample
  bool ok_ = true;
  std::error_code writeError_;
};

}  // namespace varnelo
