// Where varnelocmd keeps its state: the data folder (the engine's databases
// and logs, and the client's own file beside them). Called by main() before
// any command runs; pure apart from creating the folder; any thread.
#pragma once

#include <string>

namespace varnelo::cli {

// The folder given with --data, else $XDG_DATA_HOME/Varnelo, else
// $HOME/.local/share/Varnelo (an XDG_DATA_HOME that is not absolute is
// ignored, as the XDG rules say). Empty when neither variable helps.
std::string defaultDataFolder();

// Creates `folder` (and missing parents) with mode 0700 when it is missing.
// Empty string on success, else the reason.
std::string prepareDataFolder(const std::string& folder);

}  // namespace varnelo::cli
