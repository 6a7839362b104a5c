#include "LogCleanup.h"

#include <QtGlobal>

#include "platform/data_folder.h"

namespace varnelo::desktop {

int cleanOldLogs(const std::string& dataFolder, platform::FileTime now) {
  return platform::removeOldLogs(
      dataFolder, now, 29, [](const std::string& path, std::error_code ec) {
        qWarning("log clean-up: cannot remove %s: %s", path.c_str(), ec.message().c_str());
      });
}

}  // namespace varnelo::desktop
