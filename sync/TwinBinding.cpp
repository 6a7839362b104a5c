#include "TwinBinding.h"

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

// The index of the twin spelled as the service's entry; -1 when none is, or
// kTwinUndecided when the service did not answer.
int spelledAsRemote(Context& context, const std::string& remotePath, bool folder,
                    const std::vector<const files::DirEntry*>& twins) {
  varnelo_meta_get_result* result = nullptr;
  int rc = http::meta_get(context.credentials(), remotePath, &result, nullptr, false, 0);
  int chosen = rc == codes::kOk || rc == codes::kNotFound ? -1 : kTwinUndecided;
  if (rc == codes::kOk && result->entry.path && ((result->entry.type & 2) != 0) == folder) {
    std::string_view path(result->entry.path);
    const std::string_view name = path.substr(path.rfind('/') + 1);
    for (size_t i = 0; i < twins.size(); ++i) {
      if (twins[i]->name == name && sameKind(*twins[i], folder)) chosen = static_cast<int>(i);
    }
  }
  varnelo_meta_destroy_get_result(result);
  return chosen;
}

}  // namespace

TwinChooser journalTwinChooser(Context& context) {
  return [&context](const std::string& folder,
                    const std::vector<const files::DirEntry*>& twins) -> int {
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
    const int chosen = spelledAsRemote(context, remotePath, folderRow, twins);
    if (chosen < 0) {
      log_write(kLogError, kModuleSync,
                "case twins of [%s]: the synced one cannot be told, none takes part",
                remotePath.c_str());
    }
    return chosen;
  };
}

}  // namespace varnelo
