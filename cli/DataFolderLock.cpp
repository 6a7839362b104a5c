#include "DataFolderLock.h"

#include "platform/data_folder.h"

namespace varnelo::cli {

DataFolderLock::DataFolderLock(const std::string& dataFolder) {
  const std::string path = platform::dataFolderLockPath(dataFolder);
  const std::error_code ec = lock_.tryAcquireFile(path);
  if (!ec) return;
  if (ec != std::errc::resource_unavailable_try_again) {
    error_ = (ec == std::errc::no_such_file_or_directory ? "cannot open " : "cannot lock ") + path +
             ": " + ec.message();
    return;
  }
  const platform::LockHolder& holder = lock_.holder();
  if (holder.program.empty() || holder.program == "varnelocmd") {
    error_ = "another varnelocmd (a running sync?) is using the data folder " + dataFolder;
    if (holder.pid > 0) error_ += " (pid " + std::to_string(holder.pid) + ")";
  } else {
    error_ = holder.describe() + " is using the data folder " + dataFolder;
  }
}

}  // namespace varnelo::cli
