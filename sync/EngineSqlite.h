// What the engine adds to the shared SQLite layer (sqlite/Sqlite.h) for its
// own databases: batches whose failed commit goes to the engine log, and
// setting a damaged database file aside so that a start is never refused
// for good. Same threading as the layer: one thread at a time per Database.
#pragma once

#include "sqlite/Sqlite.h"

#include <functional>
#include <string>

namespace varnelo::sqlite {

// Groups the statements of one step (say, a file's completion) into one
// write transaction, so that they take the database's locks once instead
// of once each. Every statement keeps its own result, as it would without
// the batch, and whatever they did is committed when the batch ends. Inside
// an open transaction it adds nothing. A batch of reads only (`writes`
// false) shares one read snapshot and takes no write lock.
class Batch {
 public:
  explicit Batch(Database& db, bool writes = true);
  ~Batch();
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // True while this batch's transaction is open: it began here and no
  // failure has ended it (SQLite rolls a transaction back by itself on
  // some errors, and what follows then commits statement by statement).
  bool active() const noexcept;
  // Undoes everything since the batch began; the batch then adds nothing.
  void rollBack() noexcept;
  // Commits now, for a caller that must know the outcome (the end of the
  // batch only logs it): SQLITE_OK, also when nothing was open; on failure
  // everything since the batch began is undone.
  int commit() noexcept;

 private:
  Database& db_;
  bool began_ = false;
};

// Opens one of the engine's database files through `open` (which returns an
// SQLite result). A file that SQLite finds is not a database, or damaged
// (SQLITE_NOTADB, SQLITE_CORRUPT: written over by something else, or a
// failing disk; a crash alone never does this), would otherwise refuse
// every start for good: it is closed with `close`, renamed with its -wal and
// -shm files to "<path>.damaged-<UTC time>" (kept, never deleted), and
// `open` runs once more on a fresh file. Logs what it did; returns the
// result of the last `open`.
int openSettingDamagedAside(const std::string& path, const std::function<int()>& open,
                            const std::function<void()>& close);

}  // namespace varnelo::sqlite
