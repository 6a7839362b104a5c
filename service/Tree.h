// Each account's file tree: folders and files rooted at "home", the trash,
// the chunks the account holds, prepared uploads and share links. Every
// entry's 16-byte version changes with each change of the entry, and a
// folder's whenever anything below it changes. Called from the request
// threads; every operation runs in one transaction under the Store's lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ChangeFeed.h"
#include "ChunkStore.h"
#include "Status.h"
#include "Store.h"

namespace varnelo::service {

constexpr int kTypeFile = 1;
constexpr int kTypeFolder = 2;

struct Entry {
  int64_t id = 0;
  int64_t parent = 0;
  std::string name;
  int type = kTypeFolder;
  std::string ver;  // 16 raw bytes
  int64_t size = 0;
  int64_t chunkSize = 0;
  std::string keys;  // 20 raw bytes per chunk, in order
  std::string editTime;
  std::string mime;
  int64_t fileCount = 0;  // live children of a folder
  std::string path;       // "home/..." with the stored letter case
};

struct PathCode {
  std::string path;
  Status code = kOk;
};

// A new file version as prepare_put, commit_put and the small put carry it.
struct PutRequest {
  std::string path;
  std::vector<std::string> keys;  // 20 raw bytes each
  int64_t chunkSize = 0;
  int64_t fileSize = 0;
  std::string base;  // 16 raw bytes, or empty
  std::string editTime;
  std::string mime;
};

struct BatchFile;

struct DirtyChunk {
  std::string path;
  int64_t index = 0;
  std::string key;
  int64_t size = 0;
  int64_t chunkSize = 0;
};

struct TreeDumpRow {
  std::string path;
  int type = 0;
  int64_t size = 0;
  std::string keys;
  int64_t chunkSize = 0;
};

class Tree {
 public:
  // Prepared uploads and their dirty chunks are forgotten after this time.
  static constexpr int64_t kPendingLifetimeSeconds = 24 * 3600;

  // `feed`, when set, is told of every change committed to an account's tree.
  Tree(Store& store, const ChunkStore& chunks, ChangeFeed* feed = nullptr)
      : store_(store), chunks_(chunks), feed_(feed) {}

  // Splits "home", "/home", "home/a" or "/home/a" into components; kBadRequest
  // for an empty, "." or ".." component, a NUL byte or a root other than home.
  static Status parsePath(const std::string& path, std::vector<std::string>* parts);
  // True for a power of two from 64 KiB to 64 MiB.
  static bool validChunkSize(int64_t chunkSize);

  // With `list`, a folder's children come too; of those, files of 1 to
  // `keysUpTo` bytes carry their chunk keys (the others none).
  Status get(int64_t account, const std::string& path, bool list, Entry* out,
             std::vector<Entry>* children, int64_t keysUpTo = 0);
  Status mkdir(int64_t account, const std::string& path, const std::string& editTime, Entry* out);
  Status move(int64_t account, const std::string& from, const std::string& to);
  Status copy(int64_t account, const std::string& from, const std::string& to);
  // Moves the entry (with what is below it) to the trash.
  Status remove(int64_t account, const std::string& path);
  // Restores or destroys the trashed entries at or below the path.
  Status undelete(int64_t account, const std::string& path, std::vector<PathCode>* results);
  Status purge(int64_t account, const std::string& path, std::vector<PathCode>* results);

  // Checks the version and records the upload; required gets the indexes of
  // the keys that the account does not hold yet (each key once).
  Status preparePut(int64_t account, const PutRequest& put, std::vector<int64_t>* required);
  // Publishes the version: kConflict for a stale base, kBadRequest while a
  // chunk is missing or the chunk lengths do not add up, kQuotaExceeded.
  Status commitPut(int64_t account, const PutRequest& put, Entry* out);
  // The small-file put: its one chunk (keys[0], just received and checked)
  // becomes the account's and the version is published in one transaction.
  // `content`, when not null, is the chunk's bytes for the chunk store's
  // database, written in that same transaction. The chunk stays stored and
  // the account's when the commit is refused.
  Status commitSmallPut(int64_t account, const PutRequest& put, Entry* out,
                        const std::string* content = nullptr);

  // A batch of small puts (TreeBatch.cpp): each file whose code is kOk is
  // applied as commitSmallPut would apply it, in order, and gets its own
  // code and entry; a file's refusal leaves the others alone. One
  // transaction for the batch (a savepoint per file), so the batch costs one
  // commit. Chunks not kept in the database must be durable already.
  void commitSmallPuts(int64_t account, std::vector<BatchFile>& files);

  void addChunk(int64_t account, const std::string& key);
  bool holdsChunk(int64_t account, const std::string& key);
  std::vector<DirtyChunk> dirtyChunks(int64_t account);
  // The stored key list of a long file, by the SHA-1 of the list.
  bool keyList(const std::string& hash, std::string* keys);

  Status makeLink(int64_t account, const std::string& path, std::string* id);
  Status resolveLink(const std::string& id, int64_t* account, Entry* out);

  std::vector<TreeDumpRow> dump(int64_t account);

 private:
  // commitPut's work inside the caller's lock and transaction.
  Status commitLocked(Database& db, int64_t account, const PutRequest& put, Entry* out);
  // Passes `committed` through; tells the feed when the change went in.
  bool published(int64_t account, bool committed);

  Store& store_;
  const ChunkStore& chunks_;
  ChangeFeed* feed_;
};

}  // namespace varnelo::service
