#include "LocalRemoval.h"

#include <algorithm>

#include "ChunkCache.h"
#include "ConflictNames.h"
#include "Log.h"
#include "SyncPaths.h"
#include "TempNames.h"

namespace varnelo {

namespace files = platform::files;

namespace {

// The rows below `node` (whose own row is read): a child's row is the one
// its folder's listing gave, only a folder is listed in turn.
int readChildren(sync::FileJournal& journal, JournalNode& node) {
  node.children.clear();
  if (!(node.row.type & sync::FileJournal::kTypeFolder)) return 0;
  std::vector<sync::JournalEntry> rows;
  if (int rc = journal.listChildren(node.row.id, rows); rc != 0) return rc;
  node.children.resize(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    node.children[i].row = std::move(rows[i]);
    if (int rc = readChildren(journal, node.children[i]); rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int readJournalTree(sync::FileJournal& journal, int64_t id, JournalNode& out) {
  // One read snapshot for the whole tree, not one per statement.
  auto snapshot = journal.readBatch();
  if (int rc = journal.getEntry(id, out.row); rc != 0) return rc;
  return readChildren(journal, out);
}

bool readJournalTreeAt(sync::FileJournal& journal, const std::string& journalPath,
                       JournalNode& out) {
  int64_t id = 0;
  return journal.lookupPath(journalPath, id) == 0 && readJournalTree(journal, id, out) == 0;
}

bool sameFileAsRow(const files::EntryInfo& info, const sync::JournalEntry& row) {
  if (row.type & sync::FileJournal::kTypeFolder) return info.type == files::EntryType::Directory;
  return info.type == files::EntryType::File && info.size == static_cast<uint64_t>(row.fileSize) &&
         info.lastWrite == static_cast<uint64_t>(row.editTime) &&
         (row.inode == 0 || info.inode == static_cast<uint64_t>(row.inode));
}

bool matchesRow(const files::EntryInfo& info, const sync::JournalEntry& row) {
  if (!sameFileAsRow(info, row)) return false;
  return (row.type & sync::FileJournal::kTypeFolder) || row.changeTime == 0 ||
         info.changeTime == static_cast<uint64_t>(row.changeTime);
}

sync::FileStamp stampOf(const files::EntryInfo& info) {
  return {static_cast<int64_t>(info.changeTime), static_cast<int64_t>(info.inode)};
}

namespace {

void logUndeletable(const std::string& localPath, std::error_code ec) {
  log_write(kLogError, kModuleSync, "cannot delete file:[%s], error:[%d]", localPath.c_str(),
            ec.value());
}

// Gives the file taken aside to `aside` its name back, and keeps it. Should
// a new file hold the name by now, the one taken aside goes under its
// conflicted-copy name; both are kept.
void putBack(const std::string& aside, const std::string& localPath,
             std::vector<std::string>& kept) {
  if (!files::renameNoReplace(aside, localPath)) {
    kept.push_back(localPath);
    return;
  }
  const std::string copy = conflictedCopyPath(localPath);
  if (auto ec = files::renameNoReplace(aside, copy)) {
    log_write(kLogError, kModuleSync, "the changed file [%s] stays at [%s], error:[%d]",
              localPath.c_str(), aside.c_str(), ec.value());
    return;
  }
  kept.push_back(localPath);
  kept.push_back(copy);
}

// Deletes the synced file at `localPath` that a look found unchanged. It is
// moved aside under a hidden name in its folder first and judged again
// there, so that what is deleted is what was judged: a save that lands on
// the name in between (a new version renamed over it, say) stays at the
// name, and an edit made to the file itself in between gives it back its
// name. Where it cannot be moved aside (a name too long for its hidden
// form, a leftover of that name), it is deleted at its name as before.
// A file that cannot be deleted (no permission, an immutable file, a
// read-only mount) is kept like a changed file and sent again: the journal
// and the service then say what this computer holds, where a dropped row
// would leave the file out of step without a word.
bool removeFileUnchanged(const std::string& localPath, const sync::JournalEntry& row,
                         std::vector<std::string>& kept, chunkcache::ChunkCache* cache) {
  const std::string aside = removingPath(localPath);
  if (std::error_code moved = files::renameNoReplace(localPath, aside)) {
    if (files::isAbsence(moved)) return !files::exists(localPath);
    log_write(kLogInfo, kModuleSync, "cannot move [%s] aside before deleting it, error:[%d]",
              localPath.c_str(), moved.value());
    if (auto ec = files::removeFile(localPath)) {
      logUndeletable(localPath, ec);
      kept.push_back(localPath);
      return false;
    }
  } else {
    // The rename moved the change time; what was judged before it must
    // otherwise still hold.
    files::EntryInfo info;
    if (files::stat(aside, info) || !sameFileAsRow(info, row)) {
      log_write(kLogInfo, kModuleSync, "changed right before its deletion, kept:[%s]",
                localPath.c_str());
      putBack(aside, localPath, kept);
      return false;
    }
    if (auto ec = files::removeFile(aside)) {
      logUndeletable(localPath, ec);
      putBack(aside, localPath, kept);
      return false;
    }
  }
  if (cache) cache->onRemove(localPath);
  // A new file saved at the name meanwhile is new local work.
  if (!files::exists(localPath)) return true;
  kept.push_back(localPath);
  return false;
}

}  // namespace

bool unchangedSinceSync(const std::string& localPath, const files::EntryInfo& info,
                        const sync::JournalEntry& row, RecentUploads* recent) {
  if (!matchesRow(info, row)) return false;
  return !recent || info.type != files::EntryType::File ||
         !recent->mayDiffer(localPath, info.size, info.lastWrite);
}

bool removeUnchanged(const std::string& localPath, const JournalNode& node,
                     std::vector<std::string>& kept, chunkcache::ChunkCache* cache,
                     RecentUploads* recent) {
  files::EntryInfo info;
  if (files::stat(localPath, info)) return !files::exists(localPath);
  if (!unchangedSinceSync(localPath, info, node.row, recent)) {
    kept.push_back(localPath);
    return false;
  }
  if (info.type == files::EntryType::File)
    return removeFileUnchanged(localPath, node.row, kept, cache);
  // A folder: entries the journal knows are compared; unknown ones are new
  // local work and stay.
  std::vector<files::DirEntry> entries;
  if (files::listDirectory(localPath, entries)) return false;
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  const size_t folderSlot = kept.size();
  kept.push_back(localPath);  // provisional: dropped again when the folder goes
  for (const auto& e : entries) {
    const std::string child = files::joinPath(localPath, e.name);
    const std::string key = nameKey(e.name);
    auto it = std::find_if(node.children.begin(), node.children.end(),
                           [&](const JournalNode& n) { return n.row.name == key; });
    if (it == node.children.end()) {
      if (e.info.type == files::EntryType::File || e.info.type == files::EntryType::Directory)
        kept.push_back(child);
      continue;
    }
    removeUnchanged(child, *it, kept, cache, recent);
  }
  if (!files::removeDirectory(localPath)) {
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(folderSlot));
    return true;
  }
  return false;
}

int restoreInterruptedRemovals(sync::FileJournal& journal, const std::string& folder,
                               const LocalListing& listing,
                               const std::vector<sync::JournalEntry>& rows) {
  int restored = 0;
  for (const files::DirEntry& entry : listing.entries) {
    if (entry.info.type != files::EntryType::File) continue;
    const std::string name = removedNameOf(entry.name);
    // A name held by the file itself or by a case variant is not free.
    if (name.empty() || listing.find(name) || !listing.twinsOf(name).empty()) continue;
    const std::string key = nameKey(name);
    auto row = std::find_if(rows.begin(), rows.end(), [&](const sync::JournalEntry& r) {
      return r.name == key && !(r.type & sync::FileJournal::kTypeFolder);
    });
    if (row == rows.end()) continue;
    const std::string aside = files::joinPath(folder, entry.name);
    const std::string path = files::joinPath(folder, name);
    if (auto ec = files::renameNoReplace(aside, path)) {
      log_write(kLogError, kModuleSync, "cannot give [%s] its name back from [%s], error:[%d]",
                path.c_str(), aside.c_str(), ec.value());
      continue;
    }
    log_write(kLogInfo, kModuleSync, "a deletion cut short left [%s] aside; its name is back",
              path.c_str());
    if (files::EntryInfo info; !files::stat(path, info) && sameFileAsRow(info, *row)) {
      journal.put(row->pid, row->name, row->type, row->signature, row->fileSize, row->editTime,
                  stampOf(info));
    }
    ++restored;
  }
  return restored;
}

}  // namespace varnelo
