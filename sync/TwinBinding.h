// Which of a folder's case twins keeps the binding to the journal row and
// the remote entry of their shared lower-cased name. The twin the journal
// knows keeps it: for a file row, the one twin whose size, last-write
// time and (where recorded) inode are the row's; otherwise the twin spelled exactly as the service
// holds the entry; for a folder row then the twin holding the most of the
// row's synced children. A newcomer twin therefore never uploads over the
// synced entry nor turns the synced twin's content into deletions. Byte
// order decides only while the journal has no row or the service no longer
// holds the entry. When the synced twin cannot be told, the one last found
// to be it in this run stays it (an edit changes its size and time, not what
// it is); failing that, none takes part (until the service can be asked
// again, when that was the reason).
// Sync thread only (reads the journal, may ask the service once per group).
#pragma once

#include "Context.h"
#include "LocalListing.h"

namespace varnelo {

// The chooser for listLocalFolder and CaseTwinCache; it uses `context`,
// which must outlive it.
TwinChooser journalTwinChooser(Context& context);

// True when a case twin beside `localPath`, whose journal row is a folder's,
// holds a name the journal records below that row: the synced folder's
// files are there, split or copied among the twins, so none of them may be
// taken as deleted.
bool twinsHoldSyncedChildren(Context& context, const std::string& localPath);

}  // namespace varnelo
