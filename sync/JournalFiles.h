// The life of journal files beside the journal itself: the one-time
// migration of an old journal.db into basefs.db, the version check made
// right after opening, and the removal that empties a file it cannot delete.
// Called by the file syncer on its sync thread and by the engine on a full
// resynchronisation or unlink. Not thread safe per file: one caller at a time.
#pragma once

#include <functional>
#include <string>
#include <system_error>

namespace varnelo::sync {

class FileJournal;

// The journal layout this engine writes; newer layouts are refused.
inline constexpr int kJournalDbVersion = 2;
// Reported to the event sink when the journal is of a newer layout.
inline constexpr int kUnsupportedJournalVersion = -118;

// Migrates the journal at `journalPath` (an old journal.db) to basefs.db in
// the same folder, lower-casing every name and dropping rows whose names
// collide once lower-cased. On success the old file is gone and
// `journalPath` names basefs.db; on any failure journal.db is left as it was
// (to be migrated at the next start) and no basefs.db copy remains. Returns
// true when `journalPath` changed.
bool transformJournalDb(std::string& journalPath);

// Checks the layout version of an open journal: 0 to go on (a missing
// version is written as 2; other read failures are ignored), or
// kUnsupportedJournalVersion for a journal of version 3 or later.
int checkJournalVersion(FileJournal& journal);

// How a single file is deleted; tests put a failing one in its place.
using FileDeleter = std::function<std::error_code(const std::string&)>;

// Deletes a journal file with its WAL companions. A file that cannot be
// deleted is opened and emptied instead, then deleted once more. True when
// no file remains.
bool removeJournalFile(const std::string& path, const FileDeleter& deleteFile = {});

// Deletes a database file together with its -wal, -shm and -journal files,
// so that a stale write-ahead log is never applied to a new file of the same
// name. A missing file is not an error. True when none of them remains.
bool removeDatabaseFiles(const std::string& path, const FileDeleter& deleteFile = {});

}  // namespace varnelo::sync
