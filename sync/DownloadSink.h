// Where the bytes of one chunk go while they arrive, from the network or
// from a local copy: written at the chunk's place in the temporary file,
// hashed as they stream and reported as progress. One sink per attempt,
// used by one thread.
#pragma once

#include <cstdint>

#include "Digest.h"
#include "IoCallback.h"
#include "Transport.h"
#include "platform/file.h"

namespace varnelo {

class DownloadSink final : public http::Sink {
 public:
  DownloadSink(const platform::File& target, uint64_t offset, uint64_t expected,
               IoCallback* callback, bool timeSamples)
      : target_(target),
        offset_(offset),
        expected_(expected),
        callback_(callback),
        timeSamples_(timeSamples) {}

  // Takes at most the expected bytes; anything beyond is dropped (and shows
  // up as a failed key check). Returns 0 (aborting the transfer) only when
  // the engine is stopping, so a pause does not wait for a whole chunk.
  size_t write(const char* data, size_t size) override;

  bool ok() const { return ok_; }
  uint64_t written() const { return written_; }
  // True when every expected byte was written and they hash to `key`.
  bool matches(const ChunkKey& key) { return ok_ && written_ == expected_ && sha_.finish() == key; }

 private:
  const platform::File& target_;
  const uint64_t offset_;
  const uint64_t expected_;
  IoCallback* callback_;
  const bool timeSamples_;
  Sha1 sha_;
  uint64_t written_ = 0;
  bool ok_ = true;
};

}  // namespace varnelo
