#include "platform/file_id.h"

#include <sys/stat.h>

#include <cerrno>

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

}  // namespace platform::files
