// Removing local entries on the service's word without losing local work:
// a file is deleted only while its size and last-write time still match
// the journal row of the last sync; anything changed or new since then is
// kept (and handed back so it can be uploaded again). Used by the download
// path on the sync thread for remote deletions and for entries whose kind
// changed on the service.
#pragma once

#include <string>
#include <vector>

#include "FileJournal.h"
#include "LocalListing.h"
#include "RecentUploads.h"
#include "platform/files.h"

namespace chunkcache {
class ChunkCache;
}

namespace varnelo {

// A copy of one journal row and the rows below it, read before the journal
// is changed so that the local clean-up can run after it.
struct JournalNode {
  sync::JournalEntry row;
  std::vector<JournalNode> children;
};

// 0, or the journal's code when a row cannot be read.
int readJournalTree(sync::FileJournal& journal, int64_t id, JournalNode& out);
// The same for the row at `journalPath`; false when there is none or it
// cannot be read.
bool readJournalTreeAt(sync::FileJournal& journal, const std::string& journalPath,
                       JournalNode& out);

// True when the local entry is what the journal row recorded: a folder for
// a folder row; for a file row a file of the same size and last-write time,
// and, where the row recorded them, the same change time and inode (a write
// that set the old modification time back is a change).
bool matchesRow(const platform::files::EntryInfo& info, const sync::JournalEntry& row);

// matchesRow without the change time: the same file (size, last-write time,
// inode where recorded) after a rename, which moves the change time. For a
// file the engine renamed itself, or that a rename carried elsewhere.
bool sameFileAsRow(const platform::files::EntryInfo& info, const sync::JournalEntry& row);

// The stamp to record for a file found as `info`.
sync::FileStamp stampOf(const platform::files::EntryInfo& info);

// True when the file or folder at `localPath`, found as `info`, is still
// what the journal row recorded: matchesRow, and for a file sent right
// after its last write (`recent`, when given), the content that was sent.
// What every step that would replace or delete a local entry asks.
bool unchangedSinceSync(const std::string& localPath, const platform::files::EntryInfo& info,
                        const sync::JournalEntry& row, RecentUploads* recent);

// Deletes `localPath` and what is below it where it is unchanged since the
// sync that `node` records (unchangedSinceSync). Kept entries are appended
// to `kept` with every folder before what it holds. Returns true when
// `localPath` no longer exists afterwards.
bool removeUnchanged(const std::string& localPath, const JournalNode& node,
                     std::vector<std::string>& kept, chunkcache::ChunkCache* cache,
                     RecentUploads* recent);

// Gives each file of `folder` that a deletion took aside and never deleted
// (the engine stopped between the two steps) its name back, where that name
// is free and `rows` (the folder's journal rows) still hold its file row:
// the deletion was not recorded, so the file is as the last sync left it,
// and the next remote pass weighs the deletion again. The rename back moves
// the change time, so the row of a file still as synced gets the new one.
// Other files of the hidden form are left alone. Returns how many got their
// name back.
int restoreInterruptedRemovals(sync::FileJournal& journal, const std::string& folder,
                               const LocalListing& listing,
                               const std::vector<sync::JournalEntry>& rows);

}  // namespace varnelo
