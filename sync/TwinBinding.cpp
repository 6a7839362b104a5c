#include "TwinBinding.h"

#include <algorithm>

#include "FileJournal.h"
#include "JournalRows.h"
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

// The folder twin holding the most of the names the journal records below
// the folder row, when exactly one holds the most: the synced folder renamed
// in case locally (a case-only rename is not sent) still holds its synced
// children, a newcomer holds none of them. -1 when no twin stands out.
int holdingJournalChildren(Context& context, const std::string& folder, int64_t rowId,
                           const std::vector<const files::DirEntry*>& twins) {
  std::vector<sync::JournalEntry> rows;
  if (context.journal().listChildren(rowId, rows) != 0 || rows.empty()) return -1;
  std::vector<std::string> known;
  known.reserve(rows.size());
  for (auto& row : rows) known.push_back(std::move(row.name));
  std::sort(known.begin(), known.end());
  int best = -1, bestCount = 0;
  bool tie = false;
  for (size_t i = 0; i < twins.size(); ++i) {
    if (!sameKind(*twins[i], true)) continue;
    std::vector<files::DirEntry> children;
    if (files::listDirectory(files::joinPath(folder, twins[i]->name), children)) continue;
    int count = 0;
    for (const auto& child : children) {
      if (std::binary_search(known.begin(), known.end(), nameKey(child.name))) ++count;
    }
    if (count > bestCount) {
      best = static_cast<int>(i);
      bestCount = count;
      tie = false;
    } else if (count == bestCount && count > 0) {
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
      const files::EntryInfo& info = twins[i]->info;
      if (info.type == files::EntryType::File &&
          info.size == static_cast<uint64_t>(row->fileSize) &&
          info.lastWrite == static_cast<uint64_t>(row->editTime)) {
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
  // decides rather than leaving every twin out for good.
  if (chosen < 0 && remote.absent) chosen = 0;
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

}  // namespace varnelo
