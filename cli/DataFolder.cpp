#include "DataFolder.h"

#include "platform/data_folder.h"

namespace varnelo::cli {

std::string defaultDataFolder() {
  return platform::defaultDataFolder();
}

std::string prepareDataFolder(const std::string& folder) {
  if (folder.empty()) return "no data folder: set HOME or XDG_DATA_HOME, or pass --data DIR";
  return platform::prepareDataFolder(folder);
}

}  // namespace varnelo::cli
