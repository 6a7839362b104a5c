// Reads a stored file's bytes by offset across its chunks, opening each chunk
// once while reads move through it. Used by the data URL and the share
// link download to stream a file one block at a time. One object per reply;
// not shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ChunkStore.h"

namespace varnelo::service {

class ChunkSpan {
 public:
  // keys: 20 raw bytes per chunk; every chunk but the last is chunkSize long.
  ChunkSpan(const ChunkStore& chunks, std::string keys, int64_t chunkSize)
      : chunks_(chunks), keys_(std::move(keys)), chunkSize_(static_cast<uint64_t>(chunkSize)) {}

  // Exactly size bytes from offset; false when a chunk is missing or short.
  bool read(uint64_t offset, char* out, size_t size);

 private:
  const ChunkStore& chunks_;
  std::string keys_;
  uint64_t chunkSize_;
  uint64_t openIndex_ = UINT64_MAX;
  std::unique_ptr<ChunkReader> reader_;
};

}  // namespace varnelo::service
