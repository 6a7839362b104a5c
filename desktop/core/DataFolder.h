// Where the application keeps its state: the data folder shared with the
// engine and with varnelocmd ($XDG_DATA_HOME/Varnelo, else
// ~/.local/share/Varnelo), and the lock file in it that keeps two front
// ends off one folder. Pure apart from creating the folder; any thread.
#pragma once

#include <string>

namespace varnelo::desktop {

// "" when neither XDG_DATA_HOME (absolute) nor HOME helps.
std::string defaultDataFolder();
// Creates the folder (and missing parents) 0700 when missing; "" on
// success, else the reason.
std::string prepareDataFolder(const std::string& folder);
// The lock file both front ends hold while they use the folder.
std::string dataFolderLockPath(const std::string& folder);

}  // namespace varnelo::desktop
