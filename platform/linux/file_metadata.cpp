#include "platform/file_metadata.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace platform::files {

std::error_code copyModeAndTimes(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return {errno, std::generic_category()};
  if (S_ISLNK(st.st_mode)) return std::make_error_code(std::errc::invalid_argument);
  // Times last: the mode change itself touches only the change time.
  if (::fchmodat(AT_FDCWD, to.c_str(), st.st_mode & 07777, 0) != 0)
    return {errno, std::generic_category()};
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    return {errno, std::generic_category()};
  return {};
}

}  // namespace platform::files
