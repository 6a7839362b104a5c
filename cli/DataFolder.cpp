#include "DataFolder.h"

#include <cstdlib>
#include <cstring>

#include "platform/files.h"

namespace varnelo::cli {

std::string defaultDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return platform::files::joinPath(xdg, "Varnelo");
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return platform::files::joinPath(home, ".local/share/Varnelo");
  return "";
}

std::string prepareDataFolder(const std::string& folder) {
  if (folder.empty()) return "no data folder: set HOME or XDG_DATA_HOME, or pass --data DIR";
  if (platform::files::isDirectory(folder)) return "";
  if (std::error_code ec = platform::files::createDirectories(folder, 0700)) {
    return "cannot create the data folder " + folder + ": " + ec.message();
  }
  return "";
}

}  // namespace varnelo::cli
