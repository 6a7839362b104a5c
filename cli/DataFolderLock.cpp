#include "DataFolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace varnelo::cli {

DataFolderLock::DataFolderLock(const std::string& dataFolder) {
  std::string path = platform::files::joinPath(dataFolder, "varnelocmd.lock");
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = "cannot open " + path + ": " + strerror(errno);
    return;
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    error_ = errno == EWOULDBLOCK
                 ? "another varnelocmd (a running sync?) is using the data folder " + dataFolder
                 : "cannot lock " + path + ": " + strerror(errno);
    ::close(fd_);
    fd_ = -1;
  }
}

DataFolderLock::~DataFolderLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace varnelo::cli
