#include "DeletionRestore.h"

#include "FileJournal.h"
#include "Log.h"
#include "SyncPaths.h"

namespace varnelo {

namespace {

// Every folder from "home" down to the one holding `journalPath` is listed
// again by the next remote pass, even where the service's version of it
// did not change (a deletion that was held never reached the service).
int relistFoldersAbove(sync::FileJournal& journal, const std::string& journalPath) {
  const sync::VersionSignature zero{};
  for (size_t end = journalPath.find('/'); end != std::string::npos;
       end = journalPath.find('/', end + 1)) {
    const std::string folder = journalPath.substr(0, end);
    int64_t id = 0;
    if (journal.lookupPath(folder, id) != 0 || !journal.isFolder(id)) break;
    if (const int rc = journal.setFolderSignature(folder, zero); rc != 0) return rc;
  }
  return 0;
}

}  // namespace

size_t restoreHeldDeletions(Context& context,
                            const std::vector<sync::DeletionHold::Held>& entries) {
  sync::FileJournal& journal = context.journal();
  size_t failed = 0;
  auto batch = journal.batch();
  for (const sync::DeletionHold::Held& entry : entries) {
    const bool here = entry.side == sync::DeletionHold::Side::Local;
    const char* shown =
        entry.localPath.empty() ? entry.journalPath.c_str() : entry.localPath.c_str();
    // Never the whole tree: a held entry is always below the root.
    if (entry.journalPath.empty() || entry.journalPath == kRemoteRoot) continue;
    int rc = journal.removePath(entry.journalPath);
    if (rc == sync::FileJournal::kNotFound) rc = 0;  // forgotten already
    if (rc == 0 && here) rc = relistFoldersAbove(journal, entry.journalPath);
    if (rc != 0) {
      log_write(kLogError, kModuleSync, "keeping held deletion [%s] failed:[%d]", shown, rc);
      log_location();
      ++failed;
      continue;
    }
    log_write(kLogInfo, kModuleSync, "held deletion kept, %s again:[%s]",
              here ? "fetching it from the service" : "sending it to the service", shown);
  }
  return failed;
}

}  // namespace varnelo
