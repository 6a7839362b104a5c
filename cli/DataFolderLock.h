// One varnelocmd at a time changes a data folder: a second sync over the
// same journal, or an exclude change under a running sync, could lose track
// of files. Held for the life of the object by the commands that change the
// engine's state (login, logout, exclude, sync); used on the main thread.
// (An advisory lock on "varnelocmd.lock" in the folder; it ends with the
// process, however that ends.)
#pragma once

#include <string>

namespace varnelo::cli {

class DataFolderLock {
 public:
  explicit DataFolderLock(const std::string& dataFolder);
  ~DataFolderLock();
  DataFolderLock(const DataFolderLock&) = delete;
  DataFolderLock& operator=(const DataFolderLock&) = delete;

  bool held() const { return fd_ >= 0; }
  // Why the lock is not held: another varnelocmd has it, or the file failed.
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace varnelo::cli
