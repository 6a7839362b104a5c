#include "JournalFiles.h"

#include <cinttypes>
#include <vector>

#include "FileJournal.h"
#include "Log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varnelo::sync {
namespace {

constexpr const char* kBaseFsName = "basefs.db";

// Copies a database through SQLite's backup, so that a rollback journal or a
// write-ahead log of the source is honoured instead of copying a torn file.
// A missing source is an error; nothing is created in its place.
int copyDatabase(const std::string& from, const std::string& to) {
  sqlite::Database source;
  int rc = source.openWithFlags(from, SQLITE_OPEN_READWRITE);
  if (rc != SQLITE_OK) return rc;
  sqlite::Database target;
  rc = target.open(to, 0600);
  if (rc != SQLITE_OK) return rc;
  sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
  if (backup == nullptr) return sqlite3_errcode(target.get());
  rc = sqlite3_backup_step(backup, -1);
  const int finish = sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) return rc == SQLITE_OK ? SQLITE_ERROR : rc;
  return finish;
}

// Lower-cases every name of the copied journal. A row whose lower-cased name
// is already taken by a sibling is a duplicate the old layout allowed ("Foo"
// beside "foo"): it goes, with everything below it, and the sibling stays.
bool lowerCaseNames(FileJournal& journal) {
  std::vector<JournalEntry> rows;
  if (const int rc = journal.listAll(rows); rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to list journal rows, sqlite error:[%d]", rc);
    log_location();
    return false;
  }
  for (const JournalEntry& row : rows) {
    const std::string lowered = platform::asciiLower(row.name);
    if (lowered == row.name) continue;
    const int e1 = journal.rename(row.id, lowered);
    if (e1 == SQLITE_OK) continue;
    int64_t siblingId = 0;
    const int e2 = journal.lookupChild(row.pid, lowered, siblingId);
    if (e2 != SQLITE_OK) {
      log_write(kLogError, kModuleSync,
                "failed to to update entry name:[%s], with id:[%" PRIu64 "], pid:[%" PRIu64
                "] e1:[%d], e2:[%d]",
                row.name.c_str(), static_cast<uint64_t>(row.id), static_cast<uint64_t>(row.pid), e1,
                e2);
      log_location();
      return false;
    }
    const int e3 = journal.removeTree(row.type, row.id);
    if (e3 != SQLITE_OK) {
      log_write(kLogError, kModuleSync,
                "failed to to delete duplicated entry:[%s], with id:[%" PRIu64 "], pid:[%" PRIu64
                "] e1:[%d], e3:[%d]",
                row.name.c_str(), static_cast<uint64_t>(row.id), static_cast<uint64_t>(row.pid), e1,
                e3);
      log_location();
      return false;
    }
  }
  journal.setDbVersion(kJournalDbVersion);
  return true;
}

}  // namespace

bool removeDatabaseFiles(const std::string& path, const FileDeleter& deleteFile) {
  bool gone = true;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string file = path + suffix;
    const std::error_code ec = deleteFile ? deleteFile(file) : platform::files::removeFile(file);
    if (ec && ec != std::errc::no_such_file_or_directory) {
      log_write(kLogWarning, kModuleSync, "failed to delete:[%s], error:[%d]", file.c_str(),
                ec.value());
      gone = false;
    }
  }
  return gone;
}

bool transformJournalDb(std::string& journalPath) {
  const size_t slash = journalPath.rfind('/');
  if (slash == std::string::npos) {
    log_write(kLogError, kModuleSync, "invalid base fs path");
    log_location();
    return false;
  }
  if (journalPath.compare(slash + 1, std::string::npos, kBaseFsName) == 0) {
    log_write(kLogInfo, kModuleSync, "base fs path is basefs.db already");
    return false;
  }
  const std::string target = journalPath.substr(0, slash + 1) + kBaseFsName;
  if (!removeDatabaseFiles(target)) {
    log_write(kLogError, kModuleSync, "basefs.db exists, but failed to delete it");
    log_location();
    return false;
  }
  if (copyDatabase(journalPath, target) != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to copy journal.db to basefs.db");
    log_location();
    removeDatabaseFiles(target);  // no half copy is left behind
    return false;
  }

  bool migrated = false;
  {
    FileJournal journal;
    if (journal.open(target, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
      log_write(kLogError, kModuleSync, "failed to open basefs.db");
      log_location();
    } else {
      migrated = lowerCaseNames(journal);
    }
  }  // closed before any file is deleted
  if (!migrated) {
    removeDatabaseFiles(target);
    return false;
  }
  if (!removeDatabaseFiles(journalPath)) {
    log_write(kLogError, kModuleSync,
              "Succeeded to transform to basefs.db, but failed to remove journal.db");
    log_location();
    removeDatabaseFiles(target);
    return false;
  }
  journalPath = target;
  return true;
}

int checkJournalVersion(FileJournal& journal) {
  int version = 0;
  const int rc = journal.getDbVersion(version);
  if (rc == SQLITE_OK && version > kJournalDbVersion) {
    log_write(kLogError, kModuleSync, "Unsupported base db version:[%d]", version);
    return kUnsupportedJournalVersion;
  }
  if (rc == FileJournal::kNotFound) journal.setDbVersion(kJournalDbVersion);
  return 0;
}

bool removeJournalFile(const std::string& path, const FileDeleter& deleteFile) {
  if (removeDatabaseFiles(path, deleteFile)) return true;
  // The file resists deletion: at least leave it empty.
  if (platform::files::exists(path)) {
    FileJournal journal;
    if (journal.open(path, SQLITE_OPEN_READWRITE) == SQLITE_OK) journal.clear();
  }
  return removeDatabaseFiles(path, deleteFile);
}

}  // namespace varnelo::sync
