// The file state cache: for every file and folder under the sync folder that
// the engine reported on, its latest sync state, with each folder's state
// derived from its children. It lives in "statecache.db" of the data folder
// so that the file manager's extension (another process) can read it; the
// config key "running" tells readers whether the application is syncing.
// desktop/README.md describes the file for readers.
//
// Paths are normalised: UTF-8 with "/" separators, a trailing "/" for a
// folder, A-Z lower-cased. Row values are bound, never spliced into SQL.
//
// Thread safe: one mutex serialises the connection. At run time the worker
// (FileStateWorker) writes the rows and the UI thread the config table and
// the roots. Writes and lookups are retried while another process holds the
// database.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ConfigTable.h"
#include "platform/sync_primitives.h"
#include "sqlite/Sqlite.h"

namespace varnelo::desktop {

class FileStateCache {
 public:
  struct Row {
    int64_t id = 0;
    int64_t parentId = 0;
    int state = 0;
  };

  // The normalised form of a local path (a trailing "/" when it names an
  // existing folder).
  static std::string normalise(const std::string& path);
  // "/a/b/" and "/a/f.txt" → "/a/"; "" when there is no parent.
  static std::string parentOf(const std::string& normalised);

  // Opens (creating when missing, owner-only) and creates the tables.
  // `retry` applies while another process holds the database (its cancel
  // event is the cache's own, see cancelRetries).
  bool open(const std::string& path, BusyRetry retry = {51, std::chrono::milliseconds(200)});
  void close();
  bool isOpen();

  // Empties the config table and every row.
  void clear();
  // A volume's local folder becomes a root (parent 0, state 0) when absent.
  void addRoot(const std::string& path);
  bool isRunning();
  void setRunning(bool running);
  // True when `path` lies in the first root (compared without case).
  bool isUnderRoot(const std::string& path);

  // One report of the engine: the row of an existing path gets the state
  // (created, with its missing folders, when under a root), the folders
  // above follow; a path that no longer exists loses its row and every row
  // below it.
  void apply(const std::string& path, int state);
  // The row of `path` and every row below it go; the folder above follows.
  void remove(const std::string& path);
  // Every row at or below `oldPath` moves below `newPath`.
  void rename(const std::string& oldPath, const std::string& newPath);

  // Lookup by normalised path.
  bool lookup(const std::string& normalised, Row& row);

  // Brackets a batch of reports in one transaction (many reports, one disk
  // flush). Nested use is not supported.
  class Batch {
   public:
    explicit Batch(FileStateCache& cache);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    FileStateCache& cache_;
    std::lock_guard<std::recursive_mutex> lock_;
    bool began_;
  };

  // Retries waiting for another process give up at once from now on (the
  // worker is stopping); resumeRetries undoes it.
  void cancelRetries() { cancel_.set(); }
  void resumeRetries() { cancel_.reset(); }

 private:
  int step(sqlite::Statement& s);
  int exec(const char* sql);
  bool lookupLocked(const std::string& normalised, Row& row);
  int64_t ensureParent(const std::string& normalised);
  bool insert(const std::string& normalised, int64_t parentId, int state);
  bool setState(const std::string& normalised, int state);
  void removeLocked(const std::string& normalised);
  void propagateUp(const std::string& normalised);

  // Guards everything below; recursive so that a Batch can hold it across
  // the calls it brackets.
  std::recursive_mutex mutex_;
  BusyRetry retry_;
  platform::Event cancel_{platform::Event::Reset::Manual};
  sqlite::Database db_;
  ConfigTable config_;
  sqlite::Statement lookup_, insert_, setState_, deleteOne_, deleteBelow_, children_, roots_,
      selectBelow_, movePath_;
};

}  // namespace varnelo::desktop
