// An open file descriptor owned by RAII, with positional reads and writes.
// One File is used by one thread at a time; pread/pwrite on distinct ranges
// from several threads are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace platform {

class File {
 public:
  // CreateNew fails with EEXIST when the path exists (it never opens a file
  // someone else made meanwhile).
  enum class Mode { Read, ReadWrite, CreateTruncate, CreateKeep, CreateNew };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  std::error_code open(const std::string& path, Mode mode, unsigned permissions = 0666);
  void close() noexcept;
  bool isOpen() const noexcept { return fd_ >= 0; }
  int fd() const noexcept { return fd_; }

  // Reads up to `length` bytes at `offset`; `got` is short only at end of file.
  std::error_code readAt(uint64_t offset, void* buffer, size_t length, size_t& got) const;
  std::error_code writeAt(uint64_t offset, const void* buffer, size_t length) const;
  std::error_code size(uint64_t& out) const;
  std::error_code truncate(uint64_t length) const;
  std::error_code sync() const;  // data and metadata to disk
  // Starts writing the range's data to disk without waiting for it, so that
  // a later sync() finds little left to do. Advisory: nothing is promised
  // about durability until sync() returns.
  std::error_code startWriteback(uint64_t offset, uint64_t length) const;

 private:
  int fd_ = -1;
};

}  // namespace platform
