// Bringing back held deletions the user chose to keep, instead of carrying
// them out. The journal forgets each entry (and what is below it), so that
// neither side takes its absence for a deletion any more: what was deleted
// here is fetched again by the next remote pass (the folders above it are
// listed again), and what was deleted on the service is sent again by the
// next local scan. Without a row both sides are compared as on a first sync,
// which deletes nothing. Sync thread only, like the journal.
#pragma once

#include <vector>

#include "Context.h"
#include "DeletionHold.h"

namespace varnelo {

// Applies the restore to every entry; the number of entries the journal
// could not forget (each logged; they are held again by the next pass).
size_t restoreHeldDeletions(Context& context, const std::vector<sync::DeletionHold::Held>& entries);

}  // namespace varnelo
