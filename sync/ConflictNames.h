// Names of conflicted copies: when a local file changed since the last sync
// is about to be replaced by a download, it is kept beside it under
// "<base> (Conflicted copy YYYY-MM-DD_hh-mm-ss)<ext>". Called by the
// download path on the sync thread; pure functions, thread safe.
#pragma once

#include <string>
#include <string_view>

#include "platform/time.h"

namespace varnelo {

// The copy's name for a file called `fileName` last written at `when` (local
// time). A name that already carries a conflict marker gets its date
// replaced instead of a second marker.
std::string conflictedCopyName(const std::string& fileName, const platform::LocalTime& when);

// True when `fileName` carries a conflict marker, as every name that
// conflictedCopyName makes does.
bool hasConflictMarker(std::string_view fileName);

// Full path of the conflicted copy of `localPath`, dated with the file's own
// last-write time in local time (the current time when it cannot be read).
// When that name is taken, " 2", " 3", ... is added inside the marker so an
// earlier copy is never overwritten.
std::string conflictedCopyPath(const std::string& localPath);

}  // namespace varnelo
