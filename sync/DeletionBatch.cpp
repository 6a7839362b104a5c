#include "DeletionBatch.h"

#include <algorithm>
#include <cinttypes>
#include <unordered_map>
#include <unordered_set>

#include "FileJournal.h"
#include "LocalListing.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "platform/files.h"
#include "platform/time.h"

namespace varnelo {

namespace {

uint64_t filesBelow(const JournalNode& node) {
  if (!(node.row.type & sync::FileJournal::kTypeFolder)) return 1;
  uint64_t files = 0;
  for (const JournalNode& child : node.children) files += filesBelow(child);
  return files;
}

// Drops candidates below another candidate of the batch (a folder removed
// together with the files in it counts once).
void dropNested(std::vector<sync::DeletionHold::Candidate>& batch) {
  std::sort(batch.begin(), batch.end(),
            [](const auto& a, const auto& b) { return a.journalPath < b.journalPath; });
  std::vector<sync::DeletionHold::Candidate> kept;
  for (auto& c : batch) {
    if (!kept.empty()) {
      const std::string& above = kept.back().journalPath;
      if (c.journalPath.size() > above.size() &&
          c.journalPath.compare(0, above.size(), above) == 0 &&
          c.journalPath[above.size()] == '/') {
        continue;
      }
    }
    kept.push_back(std::move(c));
  }
  batch = std::move(kept);
}

// True when `files` more deletions, with what the side's run going on let
// through, pass `limit`, or the run has held a batch already.
bool runPasses(const sync::DeletionHold& hold, sync::DeletionHold::Side side, uint64_t files,
               uint64_t limit, uint64_t now) {
  return files + hold.runFiles(side, now) > limit || hold.runHolds(side, now);
}

// Decides over `batch`; true when it is held.
bool weigh(Context& context, sync::DeletionHold::Side side,
           std::vector<sync::DeletionHold::Candidate>& batch) {
  sync::DeletionHold* hold = context.deletions();
  if (!hold || batch.empty()) return false;
  dropNested(batch);
  uint64_t files = 0;
  for (const auto& c : batch) files += c.files;
  const uint64_t now = platform::monotonicMillis();
  // The journal is counted only when the batch could be held (and so the
  // log line below says how many files there are).
  const bool mayHold = runPasses(*hold, side, files, hold->limits().minFiles, now);
  const uint64_t synced = mayHold ? syncedFileCount(context.journal()) : 0;
  if (!hold->decide(side, batch, synced, now)) return false;
  log_write(kLogError, kModuleSync,
            "%s deletions held back: %" PRIu64 " of %" PRIu64
            " synced files in %zu entries; nothing is deleted until they are confirmed",
            side == sync::DeletionHold::Side::Local ? "local" : "remote", files, synced,
            batch.size());
  context.reportResult(codes::kDeletionsHeld, "");
  return true;
}

// True when `path` was renamed to a name that exists, or that was renamed on
// to one that does: its content is still in the synced folder. A folder
// renamed and then deleted is a deletion like any other.
bool movedOn(const std::unordered_map<std::string, std::string>& renamedAway,
             const std::string& path) {
  auto it = renamedAway.find(path);
  for (size_t hops = 0; it != renamedAway.end() && hops < renamedAway.size(); ++hops) {
    if (platform::files::exists(it->second)) return true;
    it = renamedAway.find(it->second);
  }
  return false;
}

// True when the local folder `folder` holds every file below `node`, at the
// same place (letter case aside) with the size and last-write time the row
// recorded: the folder synced as `node` under another name, as a rename or
// move leaves it. What else it holds does not matter. A folder with no file
// in it is never such a folder.
bool holdsTreeOf(const std::string& folder, const JournalNode& node, bool& anyFile) {
  std::vector<platform::files::DirEntry> entries;
  if (platform::files::listDirectory(folder, entries)) return false;
  std::unordered_map<std::string, const platform::files::DirEntry*> byKey;
  for (const auto& e : entries) byKey.emplace(nameKey(e.name), &e);
  for (const JournalNode& child : node.children) {
    auto it = byKey.find(child.row.name);
    // A move changes a file's change time, never its inode, size or time.
    if (it == byKey.end() || !sameFileAsRow(it->second->info, child.row)) return false;
    if (!(child.row.type & sync::FileJournal::kTypeFolder)) {
      anyFile = true;
    } else if (!holdsTreeOf(platform::files::joinPath(folder, it->second->name), child, anyFile)) {
      return false;
    }
  }
  return true;
}

// The folders `newFolders` and every folder below them, up to kMaxArrivals
// in all: a folder moved into one made at the same time is one of these.
std::vector<std::string> foldersFrom(std::vector<std::string> newFolders) {
  constexpr size_t kMaxArrivals = 10000;
  for (size_t i = 0; i < newFolders.size() && newFolders.size() < kMaxArrivals; ++i) {
    std::vector<platform::files::DirEntry> entries;
    if (platform::files::listDirectory(newFolders[i], entries)) continue;
    for (const auto& e : entries) {
      if (e.info.type == platform::files::EntryType::Directory && newFolders.size() < kMaxArrivals)
        newFolders.push_back(platform::files::joinPath(newFolders[i], e.name));
    }
  }
  return newFolders;
}

// False when `batch` is too small to be held whatever it holds, so that
// looking further at it would be wasted.
bool mightHold(const sync::DeletionHold& hold,
               const std::vector<sync::DeletionHold::Candidate>& batch) {
  uint64_t files = 0;
  for (const auto& c : batch) files += c.files;
  const sync::DeletionLimits& limits = hold.limits();
  return runPasses(hold, sync::DeletionHold::Side::Local, files,
                   std::min(limits.minFiles, limits.folderFiles), platform::monotonicMillis());
}

// Drops the folder candidates that a folder new in the same batch (or one
// below it) holds whole: renamed or moved while nothing watched, as the
// first scan after a start finds them. Each new folder stands for one.
void dropRenamedFolders(sync::FileJournal& journal, std::vector<std::string> newFolders,
                        std::vector<sync::DeletionHold::Candidate>& candidates) {
  if (newFolders.empty()) return;
  std::vector<std::string> arrivals = foldersFrom(std::move(newFolders));
  std::erase_if(candidates, [&](const sync::DeletionHold::Candidate& c) {
    JournalNode node;
    if (c.files == 0 || !readJournalTreeAt(journal, c.journalPath, node) ||
        !(node.row.type & sync::FileJournal::kTypeFolder)) {
      return false;
    }
    for (auto it = arrivals.begin(); it != arrivals.end(); ++it) {
      bool anyFile = false;
      if (holdsTreeOf(*it, node, anyFile) && anyFile) {
        log_write(kLogInfo, kModuleSync, "folder found again under another name:[%s] -> [%s]",
                  c.journalPath.c_str(), it->c_str());
        arrivals.erase(it);
        return true;
      }
    }
    return false;
  });
}

}  // namespace

std::optional<sync::DeletionHold::Candidate> deletionCandidate(sync::FileJournal& journal,
                                                               const std::string& journalPath) {
  JournalNode node;
  if (!readJournalTreeAt(journal, journalPath, node)) return std::nullopt;
  sync::DeletionHold::Candidate c;
  c.journalPath = journalPath;
  c.files = filesBelow(node);
  c.topLevelFolder = (node.row.type & sync::FileJournal::kTypeFolder) &&
                     std::count(journalPath.begin(), journalPath.end(), '/') == 1;
  return c;
}

uint64_t syncedFileCount(sync::FileJournal& journal) {
  std::vector<sync::JournalEntry> rows;
  journal.listAll(rows);
  return static_cast<uint64_t>(std::count_if(rows.begin(), rows.end(), [](const auto& r) {
    return (r.type & sync::FileJournal::kTypeFolder) == 0;
  }));
}

namespace {

// Tells whether a missing local path is, or is below, a case twin whose
// name another spelling still holds: the journal keeps names folded, so its
// row is that other spelling's (or is decided among the twins left), and
// the path's going is not the deletion of what the row records. Listings
// are kept for the batch, so a large deletion lists each folder once.
class TwinCheck {
 public:
  explicit TwinCheck(const std::string& localRoot) : root_(localRoot) {}

  bool underAnotherSpelling(const std::string& path) {
    auto rel = relativeToRoot(root_, path);
    if (!rel) return false;
    std::string parent = root_;
    for (size_t start = 0; start < rel->size();) {
      size_t end = rel->find('/', start);
      if (end == std::string::npos) end = rel->size();
      const std::string name = rel->substr(start, end - start);
      const LocalListing& listing = listingOf(parent);
      // Without a chooser the first spelling in byte order is the entry and
      // the others are twins.
      const platform::files::DirEntry* first = listing.find(name);
      if ((first && first->name != name) || !listing.twinsOf(name).empty()) return true;
      parent = platform::files::joinPath(parent, name);
      start = end + 1;
    }
    return false;
  }

 private:
  const LocalListing& listingOf(const std::string& folder) {
    auto [it, added] = listed_.try_emplace(folder);
    if (added) listLocalFolder(folder, it->second);  // a missing folder lists as empty
    return it->second;
  }

  std::string root_;
  std::unordered_map<std::string, LocalListing> listed_;
};

}  // namespace

void holdLargeLocalDeletions(Context& context, std::vector<std::string>& batch,
                             const std::unordered_map<std::string, std::string>& renamedAway) {
  sync::DeletionHold* hold = context.deletions();
  if (!hold) return;
  const std::string& root = context.localRoot();
  std::vector<sync::DeletionHold::Candidate> candidates;
  // Which paths of the batch exist, by position. A scan's batch holds every
  // path it found changed, so no second copy of them is kept: the journal
  // path of one is made again only where it is needed.
  std::vector<bool> present(batch.size());
  TwinCheck twins(root);
  for (size_t i = 0; i < batch.size(); ++i) {
    const std::string& path = batch[i];
    if (movedOn(renamedAway, path)) continue;
    auto remote = remotePathOf(root, path);
    if (!remote || *remote == kRemoteRoot) continue;
    const std::string journalPath = sync::journalPathOf(*remote);
    if (platform::files::exists(path)) {
      hold->forget(journalPath);
      present[i] = true;
      continue;
    }
    if (twins.underAnotherSpelling(path)) continue;  // the upload path weighs twins
    if (auto c = deletionCandidate(context.journal(), journalPath)) {
      c->localPath = path;
      candidates.push_back(std::move(*c));
    }
  }
  if (!candidates.empty() && mightHold(*hold, candidates)) {
    // Only a batch that could be held looks for the folders it may have
    // been renamed to: those of the batch the journal does not know.
    std::vector<std::string> newFolders;
    for (size_t i = 0; i < batch.size(); ++i) {
      if (!present[i] || !platform::files::isDirectory(batch[i])) continue;
      int64_t id = 0;
      // Present paths are below the root: their remote path was made above.
      const std::string journalPath = sync::journalPathOf(*remotePathOf(root, batch[i]));
      if (context.journal().lookupPath(journalPath, id) == sync::FileJournal::kNotFound)
        newFolders.push_back(batch[i]);
    }
    dropRenamedFolders(context.journal(), std::move(newFolders), candidates);
  }
  if (!weigh(context, sync::DeletionHold::Side::Local, candidates)) return;
  std::unordered_set<std::string> held;
  for (const auto& c : candidates) held.insert(c.journalPath);
  batch.erase(std::remove_if(batch.begin(), batch.end(),
                             [&](const std::string& path) {
                               auto remote = remotePathOf(root, path);
                               if (!remote) return false;
                               // The path or a folder above it is held.
                               std::string key = sync::journalPathOf(*remote);
                               while (!key.empty()) {
                                 if (held.count(key)) return true;
                                 const size_t slash = key.rfind('/');
                                 if (slash == std::string::npos) break;
                                 key.resize(slash);
                               }
                               return false;
                             }),
              batch.end());
}

bool holdLargeRemoteDeletions(Context& context, std::vector<std::string>& journalPaths,
                              const std::unordered_map<std::string, std::string>& localPaths) {
  std::vector<sync::DeletionHold::Candidate> candidates;
  for (const std::string& path : journalPaths) {
    auto c = deletionCandidate(context.journal(), path);
    candidates.push_back(c ? *c : sync::DeletionHold::Candidate{path, 0, false, {}});
    if (auto local = localPaths.find(path); local != localPaths.end())
      candidates.back().localPath = local->second;
  }
  if (!weigh(context, sync::DeletionHold::Side::Remote, candidates)) return false;
  journalPaths.clear();
  for (const auto& c : candidates) journalPaths.push_back(c.journalPath);
  return true;
}

}  // namespace varnelo
