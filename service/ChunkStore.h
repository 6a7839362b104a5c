// The content-addressed chunk store on disk: one file per chunk, named by the
// hex SHA-1 of its bytes, under <data>/chunks/<2 hex>/ (made on first use). A chunk is written to
// a temporary file while its bytes stream in, hashed on the way, fsynced and
// renamed into place only when it hashes to its key, so a reader never sees a
// partial or wrong chunk. Safe for concurrent use: files are immutable once
// renamed and every writer has its own temporary file.
#pragma once

#include <cstdint>
#include <string>

#include "Crypto.h"
#include "Status.h"

namespace varnelo::service {

class ChunkStore {
 public:
  // Creates the folders below dataDir; false on failure (logged).
  bool open(const std::string& dataDir);

  std::string pathFor(const std::string& key) const;
  // Length of the stored chunk, or -1 when it is not stored.
  int64_t length(const std::string& key) const;

  // Streams one chunk into the store. Construction opens the temporary file;
  // destruction removes it unless finish() stored it.
  class Writer {
   public:
    Writer(const ChunkStore& store, uint64_t maxLength);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    // False once the bytes exceed maxLength or the disk refuses them; later
    // calls keep failing.
    bool write(const char* data, size_t size);
    uint64_t written() const { return written_; }
    // kOk when the bytes hash to the key (20 raw bytes) and were stored;
    // kBadRequest for a mismatch or an over-long body; kServerError for a
    // disk failure.
    Status finish(const std::string& key);

   private:
    const ChunkStore& store_;
    uint64_t maxLength_;
    uint64_t written_ = 0;
    int fd_ = -1;
    bool failed_ = false;
    bool tooLong_ = false;
    std::string tempPath_;
    Sha1Stream hash_;
  };

 private:
  std::string root_;
};

// A read-only descriptor of one stored chunk, closed on destruction.
class ChunkReader {
 public:
  explicit ChunkReader(const std::string& path);
  ~ChunkReader();
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;
  bool ok() const { return fd_ >= 0; }
  // Reads exactly size bytes at offset; false on a short read.
  bool readAt(uint64_t offset, char* out, size_t size) const;

 private:
  int fd_ = -1;
};

}  // namespace varnelo::service
