#include "platform/data_folder.h"

#include <cstdlib>

#include "platform/files.h"

namespace platform {

std::string defaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return files::joinPath(xdg, "Varnelo");
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return files::joinPath(home, ".local/share/Varnelo");
  return "";
}

std::string prepareDataFolder(const std::string& folder) {
  if (folder.empty()) return "no data folder: set HOME or XDG_DATA_HOME";
  if (files::isDirectory(folder)) return "";
  if (std::error_code ec = files::createDirectories(folder, 0700)) {
    return "cannot create the data folder " + folder + ": " + ec.message();
  }
  return "";
}

std::string dataFolderLockPath(const std::string& folder) {
  return files::joinPath(folder, "varnelocmd.lock");
}

}  // namespace platform
