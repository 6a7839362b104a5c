// Weighing deletion batches against the journal for the big-delete guard
// (DeletionHold): what one local or remote deletion would remove, in synced
// files, and the local side's filter over the paths of one idle pass. Sync
// thread only, like the journal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Context.h"
#include "DeletionHold.h"

namespace varnelo {

// The candidate for the row at `journalPath` (a folder counts every file
// below it); nothing when the journal does not know the path.
std::optional<sync::DeletionHold::Candidate> deletionCandidate(sync::FileJournal& journal,
                                                               const std::string& journalPath);

// Files the journal knows.
uint64_t syncedFileCount(sync::FileJournal& journal);

// Weighs the paths of `batch` that are gone locally but known to the journal
// (deletions the upload side would send) and, when they are too many, takes
// them out of `batch` and reports -123 once. Paths that exist are no longer
// held. A path in `renamedAway` (→ the name it was renamed to) took its
// content along and is no deletion to weigh, while that name, or the one it
// was renamed to in turn, still exists. Nor is a folder gone here while a
// folder new in the batch (or one below it) holds every file of it as
// synced: renamed or moved while the engine was stopped, as the first scan
// finds it. Does nothing without a guard in the context.
void holdLargeLocalDeletions(Context& context, std::vector<std::string>& batch,
                             const std::unordered_map<std::string, std::string>& renamedAway);

// True (and -123 reported) when the remote pass's deletions at
// `journalPaths` must be held; `journalPaths` then keeps only the held ones
// (released paths left out, to be carried out). `localPaths` names the local
// entry of each journal path, as the held list shows it.
bool holdLargeRemoteDeletions(Context& context, std::vector<std::string>& journalPaths,
                              const std::unordered_map<std::string, std::string>& localPaths = {});

}  // namespace varnelo
