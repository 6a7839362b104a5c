// The data folder that the engine, varnelo and varnelocmd share
// ($XDG_DATA_HOME/Varnelo, else ~/.local/share/Varnelo), and the lock file
// in it that keeps two front ends off one folder. Pure apart from creating
// the folder; any thread.
#pragma once

#include <string>

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

}  // namespace platform
