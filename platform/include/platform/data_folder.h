// The data folder that the engine, varnelo and varnelocmd share
// ($XDG_DATA_HOME/Varnelo, else ~/.local/share/Varnelo), and the lock file
// in it that keeps two front ends off one folder. Pure apart from creating
// the folder; any thread.
#pragma once

#include <functional>
#include <string>
#include <system_error>

#include "platform/time.h"

namespace platform {

// $XDG_DATA_HOME/Varnelo, else $HOME/.local/share/Varnelo (an XDG_DATA_HOME
// that is not absolute is ignored, as the XDG rules say). Empty when
// neither variable helps.
std::string defaultDataFolder();

// Creates `folder` (and missing parents) with mode 0700 when it is missing.
// Empty string on success, else the reason.
std::string prepareDataFolder(const std::string& folder);

// The lock file each front end holds while it uses `folder` (the name
// varnelocmd has always used).
std::string dataFolderLockPath(const std::string& folder);

// Removes the engine's log files (every "*.log" in the folder "log" of
// `folder`, one written per start) whose last write is more than `keepDays`
// whole days before `now`, so that a client started often does not fill
// the disk with them. A file that cannot be removed goes to `failed`, when
// given. Returns how many were removed.
int removeOldLogs(const std::string& folder, FileTime now, uint64_t keepDays,
                  const std::function<void(const std::string&, std::error_code)>& failed = {});

}  // namespace platform
