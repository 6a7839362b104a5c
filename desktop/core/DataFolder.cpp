#include "DataFolder.h"

#include <cstdlib>

#include "platform/files.h"

namespace varnelo::desktop {

std::string defaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return platform::files::joinPath(xdg, "Varnelo");
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return platform::files::joinPath(home, ".local/share/Varnelo");
  return "";
}

std::string prepareDataFolder(const std::string& folder) {
  if (folder.empty()) return "no data folder: set HOME or XDG_DATA_HOME";
  if (platform::files::isDirectory(folder)) return "";
  if (std::error_code ec = platform::files::createDirectories(folder, 0700)) {
    return "cannot create the data folder " + folder + ": " + ec.message();
  }
  return "";
}

std::string dataFolderLockPath(const std::string& folder) {
  // The name varnelocmd has always used.
  return platform::files::joinPath(folder, "varnelocmd.lock");
}

}  // namespace varnelo::desktop
