// One front end at a time changes a data folder: a second sync over the
// same journal, or an exclude change under a running sync, could lose track
// of files. Held for the life of the object by the commands that change the
// engine's state (login, logout, exclude, sync); used on the main thread.
// (The platform's lock on "varnelocmd.lock" in the folder; it ends with the
// process, however that ends, and records who holds it.)
#pragma once

#include <string>

#include "platform/instance_lock.h"

namespace varnelo::cli {

class DataFolderLock {
 public:
  explicit DataFolderLock(const std::string& dataFolder);
  DataFolderLock(const DataFolderLock&) = delete;
  DataFolderLock& operator=(const DataFolderLock&) = delete;

  bool held() const { return lock_.held(); }
  // Why the lock is not held: another front end has it (and which process,
  // when it could be read), or the file failed.
  const std::string& error() const { return error_; }

 private:
  platform::InstanceLock lock_;
  std::string error_;
};

}  // namespace varnelo::cli
