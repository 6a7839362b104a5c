// The clean-up of old log files at start: every "*.log" in the data folder's
// "log" folder whose last write is more than 29 whole days before `now`.
// (Nothing is removed beside the executable: an installed program's folder
// is shared with other programs.) Any thread.
#pragma once

#include <string>

#include "platform/time.h"

namespace varnelo::desktop {

// The number of files removed.
int cleanOldLogs(const std::string& dataFolder, platform::FileTime now);

}  // namespace varnelo::desktop
