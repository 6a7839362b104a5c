// The content-addressed chunk store on disk: one file per chunk, named by the
// hex SHA-1 of its bytes, under <data>/chunks/<2 hex>/ (made on first use). A
// chunk is written to a temporary file while its bytes stream in (buffered
// into large writes), hashed on the way, and renamed into place only when it
// hashes to its key, so a reader never sees a partial or wrong chunk.
//
// Durability is paid while the chunks arrive, not at the commit: a stored
// chunk's writeback is started when it is renamed into place, a thread of
// the store (the syncer) then syncs the chunks stored since its last round
// (data and folder entries) in the background, and makeDurable() syncs what
// is still left before a file that uses them is committed, so the commit
// waits for little more than the last chunks to reach the disk. A chunk lost with the page cache in
// a machine crash before any commit needed it is found missing or short by wholeOnDisk() and asked
// for again; open() flushes what an earlier run that never reached close() left unsynced.
//
// The content of a small put (at most kDatabaseLimit bytes) is not a file:
// it is kept in the service's database (table chunk_bytes), written in the
// transaction that records the version naming it, so it costs no file, no
// rename and no fsync, and it is exactly as durable as that version. Every
// lookup takes the database's row first, then the file.
//
// Safe for concurrent use: files are immutable once renamed, every writer
// has its own temporary file, one lock guards the set of chunks not yet
// known to be on disk and the syncer's queue, and the database is used
// under the Store's lock (the *Locked calls are for a caller that holds it
// already). The syncer runs from open() until close() or destruction, which
// join it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Crypto.h"
#include "Status.h"

namespace varnelo::service {

class Database;
class Store;

class ChunkStore {
 public:
  // The largest chunk kept in the database: a small put's whole content.
  static constexpr int64_t kDatabaseLimit = 16384;

  // Creates the folders below dataDir (flushing the store's file system when
  // the last run did not close it); false on failure (logged). Without a
  // database every chunk is a file.
  // `syncEarly` false leaves every sync to makeDurable() (no syncer).
  bool open(const std::string& dataDir, Store* database = nullptr, bool syncEarly = true);
  ~ChunkStore();
  // Makes every chunk this process stored durable and marks the store
  // closed. Called once no request runs any more.
  void close();

  // The file a chunk is kept in when it is not in the database.
  std::string pathFor(const std::string& key) const;
  // Length of the stored chunk, or -1 when it is not stored.
  int64_t length(const std::string& key) const;
  int64_t lengthLocked(Database& db, const std::string& key) const;
  // True when the chunk is stored with exactly `expected` bytes: a chunk
  // lost or cut short by a crash before it reached the disk is not.
  bool wholeOnDisk(const std::string& key, int64_t expected) const;
  bool wholeOnDiskLocked(Database& db, const std::string& key, int64_t expected) const;

  // True when a chunk of `length` bytes goes into the database.
  bool keepsInDatabase(int64_t length) const {
    return database_ != nullptr && length >= 1 && length <= kDatabaseLimit;
  }
  // Records bytes (which hash to key) in the database, as part of the
  // caller's transaction; the caller holds the Store's lock. False when the
  // database refused.
  bool putLocked(Database& db, const std::string& key, std::string_view bytes) const;
  // The bytes of a chunk kept in the database; false when it is not there.
  bool databaseBytes(const std::string& key, std::string* out) const;

  // Waits until every chunk of `keys` stored by this process is on disk,
  // with the folder entry that names it (the files and then their folders
  // are synced on a few threads at once). kOk, or kServerError when the disk
  // refused (the caller must not commit anything that uses these chunks).
  // Keys that are not stored are left to the caller's own checks.
  Status makeDurable(const std::vector<std::string>& keys);
  // True while a stored chunk may still be only in the page cache.
  bool awaitingSync(const std::string& key) const;

  // Streams one chunk into the store. Construction opens the temporary file;
  // destruction removes it unless finish() stored it.
  class Writer {
   public:
    Writer(ChunkStore& store, uint64_t maxLength);
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
    bool flush();

    ChunkStore& store_;
    uint64_t maxLength_;
    uint64_t written_ = 0;
    int fd_ = -1;
    bool failed_ = false;
    bool tooLong_ = false;
    std::string tempPath_;
    std::unique_ptr<char[]> buffer_;  // gathers bytes into large writes
    size_t capacity_ = 0;
    size_t used_ = 0;  // bytes in buffer_ not yet written
    Sha1Stream hash_;
  };

 private:
  void queueSync(const std::string& key);
  void runSyncer();
  void stopSyncer();

  std::string root_;
  Store* database_ = nullptr;
  // Guards unsynced_ (keys renamed into place by this process whose data and
  // folder entry may still be only in the page cache), queued_ (stored keys
  // the syncer has not taken yet) and stopping_.
  mutable std::mutex mutex_;
  std::set<std::string> unsynced_;
  std::vector<std::string> queued_;
  bool stopping_ = false;
  std::condition_variable queuedChanged_;
  std::thread syncer_;
};

// One stored chunk opened for reading: the bytes of a chunk kept in the
// database, or a read-only descriptor of its file (closed on destruction).
class ChunkReader {
 public:
  ChunkReader(const ChunkStore& store, const std::string& key);
  explicit ChunkReader(const std::string& path);
  ~ChunkReader();
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;
  bool ok() const { return fd_ >= 0 || inMemory_; }
  // Reads exactly size bytes at offset; false on a short read.
  bool readAt(uint64_t offset, char* out, size_t size) const;

 private:
  int fd_ = -1;
  bool inMemory_ = false;
  std::string bytes_;  // a chunk kept in the database
};

}  // namespace varnelo::service
