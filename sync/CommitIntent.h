// Commits whose outcome this computer never learned. A version is recorded
// in the journal only once the service's reply to its commit has come; an
// engine killed (or a reply lost) after the request left leaves the service
// holding this computer's version while the journal still holds the one
// before. The next run would take that version for another computer's edit:
// a save made meanwhile would lose its name to it (a conflicted copy beside
// a version nobody chose, an empty one after a truncating save). So an
// intent is written before every upload's request goes, and dropped when
// its row is written; one left over is settled against the service. Sync
// thread only, like the journal.
#pragma once

#include <string>
#include <vector>

#include "Context.h"
#include "Digest.h"
#include "FileJournal.h"

namespace varnelo {

// The digest an intent keeps of the keys sent: SHA-1 over all of them.
std::string keysDigestOf(const std::vector<ChunkKey>& keys);

// Asks the service about the intent left for `journalPath` (the remote
// entry `remotePath`), if any. True when the service holds exactly the
// content that was being committed: that is this computer's version, and
// the journal row now records it (the service's version, the size, time and
// stamp the file had when it was sent), so what was saved since goes up over
// it as an edit. False when there is no intent or the service holds
// something else (the intent is dropped), or cannot be asked (it stays).
bool settleUnfinishedCommit(Context& context, const std::string& remotePath,
                            const std::string& journalPath);

}  // namespace varnelo
