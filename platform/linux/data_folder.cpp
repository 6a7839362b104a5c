#include "platform/data_folder.h"

#include <cstdlib>
#include <vector>

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

namespace files = platform::files;

int removeOldLogs(const std::string& folder, FileTime now, uint64_t keepDays,
                  const std::function<void(const std::string&, std::error_code)>& failed) {
  constexpr uint64_t kUnitsPerDay = 864000000000ULL;  // file time counts 100 ns
  const std::string logs = files::joinPath(folder, "log");
  std::vector<files::DirEntry> entries;
  if (files::listDirectory(logs, entries)) return 0;
  int removed = 0;
  for (const auto& e : entries) {
    const std::string& name = e.name;
    if (e.info.type != files::EntryType::File || name.size() < 5 ||
        name.compare(name.size() - 4, 4, ".log") != 0) {
      continue;
    }
    if (e.info.lastWrite >= now || (now - e.info.lastWrite) / kUnitsPerDay <= keepDays) continue;
    const std::string path = files::joinPath(logs, name);
    if (std::error_code ec = files::removeFile(path)) {
      if (failed) failed(path, ec);
    } else {
      ++removed;
    }
  }
  return removed;
}

}  // namespace platform
