#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {
namespace {
std::error_code lastError() {
  return {errno, std::generic_category()};
}
}  // namespace

File::~File() {
  close();
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

std::error_code File::open(const std::string& path, Mode mode, unsigned permissions) {
  close();
  int flags = O_CLOEXEC | O_NOFOLLOW;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::ReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::CreateTruncate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    case Mode::CreateKeep:
      flags |= O_RDWR | O_CREAT;
      break;
    case Mode::CreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  do {
    fd_ = ::open(path.c_str(), flags, permissions);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ < 0 ? lastError() : std::error_code{};
}

void File::close() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::error_code File::readAt(uint64_t offset, void* buffer, size_t length, size_t& got) const {
  got = 0;
  auto* p = static_cast<char*>(buffer);
  while (got < length) {
    const ssize_t n = ::pread(fd_, p + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return {};
}

std::error_code File::writeAt(uint64_t offset, const void* buffer, size_t length) const {
  size_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < length) {
    const ssize_t n = ::pwrite(fd_, p + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return lastError();
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

std::error_code File::size(uint64_t& out) const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return lastError();
  out = static_cast<uint64_t>(st.st_size);
  return {};
}

std::error_code File::truncate(uint64_t length) const {
  return ::ftruncate(fd_, static_cast<off_t>(length)) != 0 ? lastError() : std::error_code{};
}

std::error_code File::sync() const {
  return ::fsync(fd_) != 0 ? lastError() : std::error_code{};
}

std::error_code File::startWriteback(uint64_t offset, uint64_t length) const {
  return ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                           SYNC_FILE_RANGE_WRITE) != 0
             ? lastError()
             : std::error_code{};
}

}  // namespace platform
