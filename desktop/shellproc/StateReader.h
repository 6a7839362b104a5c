// Reads the application's "statecache.db" for the file manager: whether the
// application is running, the sync folders (root rows) and each path's sync
// state. Read-only, through the file's contract (desktop/README.md).
//
// The file manager waits for every answer, so nothing here waits long: only
// a regular file is opened (a FIFO or a device in its place is no database),
// each statement runs for kStepBudget at most, a
// busy database is given kBusyTimeout at most, and then every lookup that
// the cache cannot answer answers "nothing known" at once until the next
// change check (so a writer holding the file costs one wait per check, not
// one per file). Such answers are not cached. Answers are cached until the database changes; the
// change check (SQLite's data_version, and the file's identity for a
// replaced or new file) runs at most every kCheckInterval, so a new state
// shows up within that time. The cache holds at most kMaxCached paths and
// starts over when full.
//
// Thread safe: one mutex guards the connection and the cache.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace varnelo::shellproc {

class StateReader {
 public:
  static constexpr std::chrono::milliseconds kCheckInterval{250};
  static constexpr std::chrono::milliseconds kBusyTimeout{50};
  static constexpr size_t kMaxCached = 8192;
  // Longest a statement may run (SQLite's progress handler cuts it short).
  static constexpr std::chrono::milliseconds kStepBudget{100};

  explicit StateReader(std::string databasePath) : path_(std::move(databasePath)) {}

  // The cache's form of a local path: a trailing "/" for a folder, A-Z
  // lower-cased.
  static std::string normalise(const std::string& path, bool folder);

  // False while the application is not running (states are stale then).
  bool running();
  // The sync folders, normalised (with their trailing "/").
  std::vector<std::string> roots();
  // The state of a normalised path; none when it has no row.
  std::optional<int> state(const std::string& normalised);
  // The same, but none as well while the application is not running: what
  // an emblem shows (one lock and one clock reading per call).
  std::optional<int> shownState(const std::string& normalised);

 private:
  struct Closer {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
  };
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
  };
  using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

  static int progress(void* self);
  void refreshLocked(std::chrono::steady_clock::time_point now);
  std::optional<int> stateLocked(const std::string& normalised,
                                 std::chrono::steady_clock::time_point now);
  bool openLocked();
  void prepareQueriesLocked();
  void closeLocked();
  Statement prepareLocked(const char* sql);

  const std::string path_;
  std::mutex mutex_;  // guards everything below
  std::unique_ptr<sqlite3, Closer> db_;
  Statement stateQuery_, runningQuery_, rootsQuery_, versionQuery_;
  uint64_t device_ = 0, inode_ = 0;
  int64_t dataVersion_ = -1;
  std::chrono::steady_clock::time_point checked_{};
  std::chrono::steady_clock::time_point busyUntil_{};     // no lookups before this
  std::chrono::steady_clock::time_point stepDeadline_{};  // the running statement's end
  bool haveSnapshot_ = false;                             // running_ and roots_ are current
  bool running_ = false;
  std::vector<std::string> roots_;
  std::unordered_map<std::string, std::optional<int>> cache_;
};

}  // namespace varnelo::shellproc
