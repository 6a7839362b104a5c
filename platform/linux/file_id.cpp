#include "platform/file_id.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>

namespace platform::files {

std::error_code fileId(const std::string& path, FileId& out) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    out = {};
    return {errno, std::generic_category()};
  }
  out.device = static_cast<uint64_t>(st.st_dev);
  out.inode = static_cast<uint64_t>(st.st_ino);
  return {};
}

namespace {

// The id of the mount `path` lies on; none where the kernel does not say
// (before Linux 5.8) or the path cannot be looked at.
std::optional<uint64_t> mountIdOf(const std::string& path) {
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_MNT_ID, &sx) !=
          0 ||
      !(sx.stx_mask & STATX_MNT_ID)) {
    return std::nullopt;
  }
  return sx.stx_mnt_id;
}

}  // namespace

bool isMountPoint(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return false;
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  FileId own, above;
  if (fileId(path, own) || fileId(parent, above)) return false;
  if (own.device != above.device) return true;
  const auto ownMount = mountIdOf(path), aboveMount = mountIdOf(parent);
  return ownMount && aboveMount && *ownMount != *aboveMount;
}

}  // namespace platform::files
