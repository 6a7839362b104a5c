// Named locks that keep one process of a kind running at a time (the
// "Global\..." named mutexes of the front ends and the updater), and the
// data-folder lock that keeps two front ends off one data folder. An
// advisory flock on a lock file: it ends with the process however that ends,
// so a crash never leaves a stale lock. The holder writes its pid and
// program name into the file, so a loser can say who is running.
//
// Thread safety: one InstanceLock is used by one thread at a time; distinct
// objects are independent (two objects in one process exclude each other
// like two processes do).
//
//   platform::InstanceLock lock;
//   if (auto ec = lock.tryAcquire("Global\\VarneloAppInstance")) {
//     if (ec == std::errc::resource_unavailable_try_again)
//       fprintf(stderr, "%s\n", lock.holder().describe().c_str());  // "varnelo (pid 123)"
//   }
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// Who holds a lock, as its holder recorded it (pid 0 and an empty program
// when it could not be read: the holder may still be writing it).
struct LockHolder {
  long pid = 0;
  std::string program;
  // "varnelocmd (pid 123)", "pid 123", or "another process".
  std::string describe() const;
};

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock() { release(); }
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock named `name` (a "Global\..." name: objectFileName() +
  // ".lock" in runtimeFolder()) without waiting. Errors:
  // resource_unavailable_try_again another process (or object) holds it,
  // holder() says which; invalid_argument the name maps to no file name;
  // anything else the folder or file failed (errno).
  std::error_code tryAcquire(std::string_view name);
  // The same for an explicit lock file (created 0600 when missing; a
  // symbolic link is refused).
  std::error_code tryAcquireFile(const std::string& path);
  void release() noexcept;

  bool held() const noexcept { return fd_ >= 0; }
  const std::string& path() const noexcept { return path_; }
  // After tryAcquire failed with resource_unavailable_try_again.
  const LockHolder& holder() const noexcept { return holder_; }

 private:
  int fd_ = -1;
  std::string path_;
  LockHolder holder_;
};

// Reads what the holder of the lock file `path` recorded.
LockHolder readLockHolder(const std::string& path);

}  // namespace platform
