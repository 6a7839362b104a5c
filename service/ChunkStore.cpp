#include "ChunkStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Log.h"

namespace varnelo::service {
namespace {
bool makeDir(const std::string& path) {
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}
}  // namespace

bool ChunkStore::open(const std::string& dataDir) {
  root_ = dataDir + "/chunks";
  if (!makeDir(root_) || !makeDir(root_ + "/tmp")) {
    logLine(LogLevel::kError, "cannot create the chunk store in %s: %s", root_.c_str(),
            strerror(errno));
    return false;
  }
  return true;
}

std::string ChunkStore::pathFor(const std::string& key) const {
  std::string hex = toHex(key);
  return root_ + "/" + hex.substr(0, 2) + "/" + hex;
}

int64_t ChunkStore::length(const std::string& key) const {
  struct stat st {};
  if (key.size() != 20 || stat(pathFor(key).c_str(), &st) != 0) return -1;
  return st.st_size;
}

ChunkStore::Writer::Writer(const ChunkStore& store, uint64_t maxLength)
    : store_(store), maxLength_(maxLength) {
  tempPath_ = store_.root_ + "/tmp/chunk-XXXXXX";
  fd_ = mkstemp(tempPath_.data());
  if (fd_ < 0) {
    logLine(LogLevel::kError, "cannot create a temporary chunk file: %s", strerror(errno));
    failed_ = true;
    tempPath_.clear();
  }
}

ChunkStore::Writer::~Writer() {
  if (fd_ >= 0) close(fd_);
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
}

bool ChunkStore::Writer::write(const char* data, size_t size) {
  if (failed_ || tooLong_) return false;
  if (written_ + size > maxLength_) {
    tooLong_ = true;
    return false;
  }
  hash_.update(data, size);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      logLine(LogLevel::kError, "chunk write failed: %s", strerror(errno));
      failed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  written_ += size;
  return true;
}

Status ChunkStore::Writer::finish(const std::string& key) {
  if (tooLong_) return kBadRequest;
  if (failed_) return kServerError;
  if (key.size() != 20 || hash_.finish() != key) return kBadRequest;
  if (fsync(fd_) != 0) {
    logLine(LogLevel::kError, "chunk fsync failed: %s", strerror(errno));
    return kServerError;
  }
  close(fd_);
  fd_ = -1;
  // Another upload of the same bytes may have won the race; the rename then
  // replaces identical content, which is harmless.
  // The folder of a key prefix is made when its first chunk arrives.
  std::string target = store_.pathFor(key);
  mkdir(target.substr(0, target.rfind('/')).c_str(), 0700);
  if (rename(tempPath_.c_str(), target.c_str()) != 0) {
    logLine(LogLevel::kError, "chunk rename failed: %s", strerror(errno));
    return kServerError;
  }
  tempPath_.clear();
  return kOk;
}

ChunkReader::ChunkReader(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

ChunkReader::~ChunkReader() {
  if (fd_ >= 0) close(fd_);
}

bool ChunkReader::readAt(uint64_t offset, char* out, size_t size) const {
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace varnelo::service
