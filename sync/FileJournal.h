// FileJournal: the record of the last synchronised state of the folder tree
// (basefs.db). One row per file and folder known to be identical locally and
// on the service: parent, lower-cased name, kind, version signature, size and
// modification time. The file syncer opens it at the start of its thread; the
// download and upload paths read and write it from that thread.
//
// Not thread safe: one connection, used by one thread at a time (the sync
// thread, or the exclude-list change on a second FileJournal of its own).
//
//   FileJournal journal;
//   if (journal.open(dataDir + "basefs.db") == 0) {
//     journal.putPath("home/docs/a.txt", FileJournal::kTypeFile, sig, size, time);
//     int64_t id;
//     journal.lookupPath("HOME/Docs/A.TXT", id);  // 0: found, case ignored
//   }
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "EngineSqlite.h"

namespace varnelo::sync {

// The 16-byte version value the service reports for an entry. Stored as two
// little-endian 64-bit words (bytes 0-7 and 8-15).
using VersionSignature = std::array<uint8_t, 16>;

// What a file's inode held when it was synced, beyond size and time: its
// change time (ctime, a FileTime) and inode number. A write that puts the
// old modification time back (touch -r, an archive or copy tool keeping
// times) still moves the change time. 0 means not recorded (rows of journals
// older than these columns, folders).
struct FileStamp {
  int64_t changeTime = 0;
  int64_t inode = 0;
};

struct JournalEntry {
  int64_t id = 0;
  int64_t pid = 0;
  std::string name;
  int type = 0;
  VersionSignature signature{};
  int64_t fileSize = 0;
  int64_t editTime = 0;
  int64_t changeTime = 0;  // FileStamp's, 0 when not recorded
  int64_t inode = 0;
};

// A commit about to be sent for a file, recorded before the request goes:
// should the engine never learn its outcome (killed, or the reply lost),
// the next run can tell its own version on the service from another
// computer's by the content (CommitIntent.h). The file as it was read: size,
// time and stamp, and the SHA-1 over the chunk keys sent (cut at chunkSize).
struct CommitIntent {
  int64_t fileSize = 0;
  int64_t editTime = 0;
  FileStamp stamp;
  int64_t chunkSize = 0;
  std::string keysDigest;
};

class FileJournal {
 public:
  // Results are SQLite codes (0 success) or one of these.
  static constexpr int kNotFound = 12;
  static constexpr int kNoLastComponent = 61441;
  static constexpr int kParentNotFolder = 61442;
  static constexpr int kNothingUpdated = 61443;
  // E_ACCESSDENIED: open called while already open.
  static constexpr int kAccessDenied = static_cast<int>(0x80070005u);

  // Type bits of a row; the folder test looks at kTypeFolder only.
  static constexpr int kTypeFile = 1;
  static constexpr int kTypeFolder = 2;
  static constexpr int kTypeAll = -1;  // every bit: removePath's "whatever it is"

  static constexpr int64_t kRootId = 0;

  FileJournal() = default;
  ~FileJournal() { close(); }
  FileJournal(const FileJournal&) = delete;
  FileJournal& operator=(const FileJournal&) = delete;

  // Opens `path` (WAL, synchronous=NORMAL), creates the tables, ensures the
  // root row and prepares every statement. `flags` are SQLite open flags;
  // without SQLITE_OPEN_CREATE a missing file fails and is not created.
  int open(const std::string& path, int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  void close() noexcept;
  bool isOpen() const noexcept { return db_.isOpen(); }
  // Groups what follows, up to the end of the returned scope, into one
  // transaction (see sqlite::Batch): for the several lookups and writes of
  // one file's step.
  sqlite::Batch batch() { return sqlite::Batch(db_); }
  // The same, held by the caller for as long as it needs (a batch that
  // spans the steps of several files).
  std::unique_ptr<sqlite::Batch> heldBatch() { return std::make_unique<sqlite::Batch>(db_); }
  // The same for lookups only: they share one read snapshot.
  sqlite::Batch readBatch() { return sqlite::Batch(db_, false); }

  // Id of the last component of a journal path ("a/b/c", case ignored,
  // empty components skipped); the root (0) for an empty path.
  int lookupPath(std::string_view path, int64_t& id);
  int lookupChild(int64_t pid, std::string_view name, int64_t& id);

  int getType(int64_t id);  // type bits, 0 when there is no row
  bool isFolder(int64_t id) { return (getType(id) & kTypeFolder) != 0; }
  bool isFile(int64_t id) { return (getType(id) & kTypeFile) != 0; }
  int getEntry(int64_t id, JournalEntry& out);

  // Every row but the root, in id order / the children of `pid`.
  int listAll(std::vector<JournalEntry>& out);
  int listChildren(int64_t pid, std::vector<JournalEntry>& out);

  // Inserts the row, or updates signature, size, time and stamp of the row
  // of the same parent, name and type. kParentNotFolder when `pid` is no
  // folder; kNothingUpdated when the name exists with another type.
  int put(int64_t pid, std::string_view name, int type, const VersionSignature& sig,
          int64_t fileSize, int64_t editTime, const FileStamp& stamp = {});
  // put under the folder that the path up to its last "/" names.
  int putPath(std::string_view path, int type, const VersionSignature& sig, int64_t fileSize,
              int64_t editTime, const FileStamp& stamp = {});
  int setFolderSignature(std::string_view path, const VersionSignature& sig) {
    return putPath(path, kTypeFolder, sig, 0, 0);
  }

  int rename(int64_t id, std::string_view newName);
  // Deletes the row and, for a folder, everything below it. The root row
  // itself is never deleted (only its children are).
  int removeTree(int type, int64_t id);
  int removePath(std::string_view path);
  // Deletes every row, the root included (emptying a journal being discarded).
  int clear();

  int count(int64_t& rows);
  int totalSize(int64_t& bytes);

  // The intent of a journal path ("home/a.txt", case ignored): kept until
  // the commit's outcome is recorded; one per path, the latest.
  int putCommitIntent(std::string_view path, const CommitIntent& intent);
  int getCommitIntent(std::string_view path, CommitIntent& out);  // kNotFound when none
  int removeCommitIntent(std::string_view path);

  int getDbVersion(int& version);
  int setDbVersion(int version);

  // The words a signature is stored as, and back.
  static void signatureWords(const VersionSignature& sig, int64_t& lo, int64_t& hi);
  static VersionSignature signatureFromWords(int64_t lo, int64_t hi);

 private:
  enum Stmt {
    kSelectIdByName,
    kSelectType,
    kSelectById,
    kSelectAll,
    kInsertNew,
    kInsertWithId,
    kUpdateEntry,
    kUpdateName,
    kDeleteById,
    kCountRows,
    kSumSizes,
    kDeleteAll,
    kInsertConfig,
    kUpdateConfig,
    kSelectConfig,
    kSelectChildren,
    kPutIntent,
    kSelectIntent,
    kDeleteIntent,
    kStatementCount
  };

  // Adds the stamp columns to a table made without them.
  int addStampColumns();
  int listInto(sqlite::Statement& st, std::vector<JournalEntry>& out);
  int deleteRow(int64_t id);

  sqlite::Database db_;
  std::array<sqlite::Statement, kStatementCount> stmts_;
};

// "a/B/c" → "a/b/c": the byte-wise ASCII lower-casing every journal path gets.
std::string journalPathOf(std::string_view path);

}  // namespace varnelo::sync
