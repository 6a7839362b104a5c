#include "LogCleanup.h"

#include <QtGlobal>
#include <vector>

#include "platform/files.h"

namespace varnelo::desktop {

int cleanOldLogs(const std::string& dataFolder, platform::FileTime now) {
  constexpr uint64_t kUnitsPerDay = 864000000000ULL;
  const std::string folder = platform::files::joinPath(dataFolder, "log");
  std::vector<platform::files::DirEntry> entries;
  if (platform::files::listDirectory(folder, entries)) return 0;
  int removed = 0;
  for (const auto& e : entries) {
    const std::string& name = e.name;
    if (e.info.type != platform::files::EntryType::File || name.size() < 5 ||
        name.compare(name.size() - 4, 4, ".log") != 0) {
      continue;
    }
    if (e.info.lastWrite >= now || (now - e.info.lastWrite) / kUnitsPerDay <= 29) continue;
    const std::string path = platform::files::joinPath(folder, name);
    if (std::error_code ec = platform::files::removeFile(path)) {
      qWarning("log clean-up: cannot remove %s: %s", path.c_str(), ec.message().c_str());
    } else {
      ++removed;
    }
  }
  return removed;
}

}  // namespace varnelo::desktop
