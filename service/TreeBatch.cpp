// Tree::commitSmallPuts: the files of one batched put in one transaction.
#include "Log.h"
#include "PutBatch.h"
#include "Tree.h"

namespace varnelo::service {

void Tree::commitSmallPuts(int64_t account, std::vector<BatchFile>& files) {
  StoreLock lock(store_);
  Database& db = store_.db();
  // The chunk (its bytes when they go into the database) and the account's
  // hold on it, as commitSmallPut keeps them; false when a statement failed.
  auto keepChunk = [&](const BatchFile& f) {
    const std::string& key = f.put.keys.front();
    return (!chunks_.keepsInDatabase(f.put.fileSize) || chunks_.putLocked(db, key, f.content)) &&
           db.query("INSERT OR IGNORE INTO account_chunks(account, key) VALUES(?, ?)")
               .bind(1, account)
               .bindBlob(2, key)
               .run();
  };
  // Every file that was to be applied fails with the batch's transaction.
  auto failAll = [&](const char* why) {
    logLine(LogLevel::kError, "batched put of %zu files not applied: %s", files.size(), why);
    for (BatchFile& f : files)
      if (f.code == kOk) f.code = kServerError;
  };
  Transaction tx(db);
  if (!tx.active()) return failAll("no transaction");
  bool applied = false;
  for (BatchFile& f : files) {
    if (f.code != kOk) continue;
    // A refused file's partial writes (folders made before a later check
    // failed) go back to the savepoint; the files before it stay.
    if (!db.exec("SAVEPOINT batch_file")) return failAll("no savepoint");
    f.code = keepChunk(f) ? commitLocked(db, account, f.put, &f.entry) : kServerError;
    if (f.code != kOk) {
      // Refused (a stale base, over quota, ...): as with a single put the
      // bytes were received, so the account keeps the chunk.
      if (!db.exec("ROLLBACK TO batch_file") || !keepChunk(f)) return failAll("rollback failed");
    }
    if (!db.exec("RELEASE batch_file")) return failAll("release failed");
    applied = applied || f.code == kOk;
  }
  if (!tx.commit()) return failAll("commit failed");
  if (applied) published(account, true);
}

}  // namespace varnelo::service
