// What a copy must carry over for the copy to be the same file to its owner
// and to the sync engine: the permission bits and the access and
// modification times (to the nanosecond; the engine's journal compares
// modification times, so a copy with a new time reads as a changed file).
// Links are never followed. Thread safe (no shared state).
//
//   platform::files::copyModeAndTimes("/old/a.txt", "/new/a.txt");
#pragma once

#include <string>
#include <system_error>

namespace platform::files {

// Gives `to` the mode bits (07777) and the access and modification times of
// `from`. For a folder, call it after its contents are in place: adding an
// entry changes a folder's modification time.
std::error_code copyModeAndTimes(const std::string& from, const std::string& to);

}  // namespace platform::files
