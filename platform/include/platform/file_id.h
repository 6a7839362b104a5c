// Which file system object a path names: the device it lives on and its
// inode number. Two paths with equal ids are the same object. And whether a
// folder is a mount point. The path itself is looked at (a symbolic link is
// not followed). Thread safe.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace platform::files {

struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

std::error_code fileId(const std::string& path, FileId& out);

// True when the folder `path` is mounted on (a mount point): it lies on
// another device than the folder above it, or on another mount, which also
// tells a bind mount of a folder of the same file system (same device).
// False when either folder cannot be looked at.
bool isMountPoint(const std::string& path);

}  // namespace platform::files
