#include "TwinBinding.h"

#include <algorithm>

#include "FileJournal.h"
#include "JournalRows.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "MetaApi.h"
#include "SyncPaths.h"
#include "TransferCodes.h"

namespace varnelo {

namespace files = platform::files;

namespace {

bool sameKind(const files::DirEntry& e, bool folder) {
  return (e.info.type == files::EntryType::Directory) == folder;
}

// What the service says of the twins' shared name.
struct RemoteSpelling {
  int chosen = -1;       // the twin spelled as the service's entry, or -1
  bool absent = false;   // the service holds no entry under that name
  bool answered = true;  // false: the service could not be asked
};

RemoteSpelling spelledAsRemote(Context& context, const std::string& remotePath, bool folder,
                               const std::vector<const files::DirEntry*>& twins) {
  varnelo_meta_get_result* result = nullptr;
  int rc = http::meta_get(context.credentials(), remotePath, &result, nullptr, false, 0);
  RemoteSpelling out;
  out.answered = rc == codes::kOk || rc == codes::kNotFound;
  out.absent = rc == codes::kNotFound;
  if (rc == codes::kOk && result->entry.path && ((result->entry.type & 2) != 0) == folder) {
    std::string_view path(result->entry.path);
    const std::string_view name = path.substr(path.rfind('/') + 1);
    for (size_t i = 0; i < twins.size(); ++i) {
      if (twins[i]->name == name && sameKind(*twins[i], folder)) out.chosen = static_cast<int>(i);
    }
  }
  varnelo_meta_destroy_get_result(result);
  return out;
}

// How many of the names the journal records below the folder row `rowId`
// each folder twin holds (0 for a file twin); empty when the row has no
// children or they cannot be read.
std::vector<int> journalChildrenHeld(Context& context, const std::string& folder, int64_t rowId,
                                     const std::vector<const files::DirEntry*>& twins) {
  std::vector<sync::JournalEntry> rows;
  if (context.journal().listChildren(rowId, rows) != 0 || rows.empty()) return {};
  std::vector<std::string> known;
  known.reserve(rows.size());
  for (auto& row : rows) known.push_back(std::move(row.name));
  std::sort(known.begin(), known.end());
  std::vector<int> counts(twins.size(), 0);
  for (size_t i = 0; i < twins.size(); ++i) {
    if (!sameKind(*twins[i], true)) continue;
    std::vector<files::DirEntry> children;
    if (files::listDirectory(files::joinPath(folder, twins[i]->name), children)) continue;
    for (const auto& child : children) {
      if (std::binary_search(known.begin(), known.end(), nameKey(child.name))) ++counts[i];
    }
  }
  return counts;
}

// The folder twin holding the most of the names the journal records below
// the folder row, when exactly one holds the most: the synced folder renamed
// in case locally (a case-only rename is not sent) still holds its synced
// children, a newcomer holds none of them. -1 when no twin stands out.
int holdingJournalChildren(Context& context, const std::string& folder, int64_t rowId,
                           const std::vector<const files::DirEntry*>& twins) {
  const std::vector<int> counts = journalChildrenHeld(context, folder, rowId, twins);
  int best = -1, bestCount = 0;
  bool tie = false;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] > bestCount) {
      best = static_cast<int>(i);
      bestCount = counts[i];
      tie = false;
    } else if (counts[i] == bestCount && counts[i] > 0) {
      tie = true;
    }
  }
  return tie ? -1 : best;
}

// The journal's and the service's answer (see TwinBinding.h).
int decide(Context& context, const std::string& folder,
           const std::vector<const files::DirEntry*>& twins) {
  auto remoteFolder = remotePathOf(context.localRoot(), folder);
  if (!remoteFolder) return 0;
  const std::string remotePath = childPath(*remoteFolder, twins.front()->name);
  auto row = journalRow(context.journal(), sync::journalPathOf(remotePath));
  if (!row) return 0;  // nothing synced under this name yet
  const bool folderRow = (row->type & sync::FileJournal::kTypeFolder) != 0;
  if (!folderRow) {
    int match = -1, matches = 0;
    for (size_t i = 0; i < twins.size(); ++i) {
      // Size and time alone do not tell a copy (cp -p, tar) from the synced
      // file: where the row recorded the inode, it must be that file too.
      if (sameFileAsRow(twins[i]->info, *row)) {
        match = static_cast<int>(i);
        ++matches;
      }
    }
    if (matches == 1) return match;
  }
  const RemoteSpelling remote = spelledAsRemote(context, remotePath, folderRow, twins);
  if (!remote.answered) return kTwinUndecided;
  int chosen = remote.chosen;
  if (chosen < 0 && folderRow) chosen = holdingJournalChildren(context, folder, row->id, twins);
  // The service holds nothing under the name any more (deleted elsewhere):
  // no twin can overwrite or delete synced content there, so byte order
  // decides rather than leaving every twin out for good. Not while this
  // engine's own delete of the entry is begun (taken aside) but not done:
  // a twin would take the name with the old version as its base, which the
  // service refuses. The row goes with that delete; then byte order decides.
  const bool deleteBegun = context.remoteHolds().count(sync::journalPathOf(remotePath)) > 0;
  if (chosen < 0 && remote.absent && !deleteBegun) chosen = 0;
  return chosen;
}

}  // namespace

TwinChooser journalTwinChooser(Context& context) {
  return [&context](const std::string& folder,
                    const std::vector<const files::DirEntry*>& twins) -> int {
    const std::string key = nameKey(twins.front()->name);
    int chosen = decide(context, folder, twins);
    if (chosen == -1) chosen = context.twinMemory().recall(folder, key, twins);
    if (chosen >= 0) {
      context.twinMemory().remember(folder, key, twins[static_cast<size_t>(chosen)]->name);
    } else if (chosen == -1) {
      log_write(kLogError, kModuleSync,
                "case twins of [%s/%s]: the synced one cannot be told, none takes part",
                folder.c_str(), key.c_str());
    }
    return chosen;
  };
}

bool twinsHoldSyncedChildren(Context& context, const std::string& localPath) {
  const std::string folder = files::parentPath(localPath);
  auto remoteFolder = remotePathOf(context.localRoot(), folder);
  if (!remoteFolder) return false;
  const std::string name = files::fileName(localPath);
  auto row = journalRow(context.journal(), sync::journalPathOf(childPath(*remoteFolder, name)));
  if (!row || (row->type & sync::FileJournal::kTypeFolder) == 0) return false;
  std::vector<files::DirEntry> entries;
  if (files::listDirectory(folder, entries)) return false;
  std::vector<const files::DirEntry*> twins;
  const std::string key = nameKey(name);
  for (const auto& e : entries) {
    if (nameKey(e.name) == key) twins.push_back(&e);
  }
  const std::vector<int> counts = journalChildrenHeld(context, folder, row->id, twins);
  return std::any_of(counts.begin(), counts.end(), [](int n) { return n > 0; });
}

}  // namespace varnelo
