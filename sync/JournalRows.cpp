#include "JournalRows.h"

namespace varnelo {

std::optional<sync::JournalEntry> journalRow(sync::FileJournal& journal,
                                             std::string_view journalPath) {
  auto batch = journal.readBatch();  // one snapshot for every component's lookup
  int64_t id = 0;
  if (journal.lookupPath(journalPath, id) != 0) return std::nullopt;
  sync::JournalEntry row;
  if (journal.getEntry(id, row) != 0) return std::nullopt;
  return row;
}

int putRowWithParents(sync::FileJournal& journal, std::string_view journalPath, int type,
                      const sync::VersionSignature& sig, uint64_t size, uint64_t editTime,
                      int* madeFolders, const sync::FileStamp& stamp) {
  if (madeFolders) *madeFolders = 0;
  int rc = journal.putPath(journalPath, type, sig, static_cast<int64_t>(size),
                           static_cast<int64_t>(editTime), stamp);
  if (rc != sync::FileJournal::kNotFound) return rc;
  for (size_t slash = journalPath.find('/'); slash != std::string_view::npos;
       slash = journalPath.find('/', slash + 1)) {
    std::string_view folder = journalPath.substr(0, slash);
    int64_t id = 0;
    if (journal.lookupPath(folder, id) == 0) continue;
    rc = journal.setFolderSignature(folder, sync::VersionSignature{});
    if (rc != 0) return rc;
    if (madeFolders) ++*madeFolders;
  }
  return journal.putPath(journalPath, type, sig, static_cast<int64_t>(size),
                         static_cast<int64_t>(editTime), stamp);
}

int markFoldersOutOfStep(sync::FileJournal& journal, std::string_view journalPath) {
  for (size_t slash = journalPath.find('/'); slash != std::string_view::npos;
       slash = journalPath.find('/', slash + 1)) {
    const std::string_view folder = journalPath.substr(0, slash);
    int64_t id = 0;
    if (journal.lookupPath(folder, id) != 0 || !journal.isFolder(id)) continue;
    if (int rc = journal.setFolderSignature(folder, sync::VersionSignature{}); rc != 0) return rc;
  }
  return 0;
}

}  // namespace varnelo
