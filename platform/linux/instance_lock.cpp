#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/runtime_dir.h"

namespace platform {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

std::string ownProgramName() {
  char buffer[64] = {};
  const int fd = ::open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  std::string name(buffer, got > 0 ? static_cast<size_t>(got) : 0);
  while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
  return name;
}

// The record is "<pid> <program>\n"; anything else reads as unknown.
LockHolder parseHolder(std::string_view text) {
  LockHolder holder;
  size_t i = 0;
  long pid = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && pid < 100000000) {
    pid = pid * 10 + (text[i++] - '0');
  }
  if (i == 0 || i >= text.size() || text[i] != ' ') return holder;
  const size_t end = text.find('\n', i + 1);
  if (end == std::string_view::npos) return holder;  // not completely written yet
  holder.pid = pid;
  for (char c : text.substr(i + 1, end - i - 1)) {
    holder.program.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
  }
  return holder;
}

}  // namespace

std::string LockHolder::describe() const {
  if (pid <= 0) return "another process";
  std::string text = "pid " + std::to_string(pid);
  return program.empty() ? text : program + " (" + text + ")";
}

LockHolder readLockHolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  char buffer[128];
  const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
  ::close(fd);
  if (got <= 0) return {};
  return parseHolder(std::string_view(buffer, static_cast<size_t>(got)));
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      holder_(std::move(other.holder_)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    holder_ = std::move(other.holder_);
  }
  return *this;
}

std::error_code InstanceLock::tryAcquire(std::string_view name) {
  const std::string file = objectFileName(name);
  if (file.empty()) return std::make_error_code(std::errc::invalid_argument);
  std::string folder;
  if (auto ec = runtimeFolder(folder)) return ec;
  return tryAcquireFile(folder + "/" + file + ".lock");
}

std::error_code InstanceLock::tryAcquireFile(const std::string& path) {
  release();
  holder_ = {};
  path_ = path;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return lastError();
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
      holder_ = readLockHolder(path);
      return std::make_error_code(std::errc::resource_unavailable_try_again);
    }
    return {err, std::generic_category()};
  }
  // Ours now: replace whatever an earlier holder left with our own record.
  // A failure here only costs the loser's message, so it is not an error.
  const std::string record =
      std::to_string(static_cast<long>(::getpid())) + " " + ownProgramName() + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t written = ::pwrite(fd, record.data(), record.size(), 0);
  }
  fd_ = fd;
  return {};
}

void InstanceLock::release() noexcept {
  if (fd_ < 0) return;
  // The file stays: removing it would let a newcomer lock a fresh file while
  // a waiter still holds the old one open, and both would think they won.
  [[maybe_unused]] int rc = ::ftruncate(fd_, 0);
  ::close(fd_);  // closing releases the lock
  fd_ = -1;
}

}  // namespace platform
