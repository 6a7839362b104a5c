#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/file.h"
#include "platform/uuid.h"

namespace platform::files {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

EntryInfo infoFrom(const struct stat& st) {
  EntryInfo info;
  if (S_ISREG(st.st_mode)) {
    info.type = EntryType::File;
  } else if (S_ISDIR(st.st_mode)) {
    info.type = EntryType::Directory;
  } else {
    info.type = EntryType::Other;
  }
  info.size = info.type == EntryType::File ? static_cast<uint64_t>(st.st_size) : 0;
  info.lastWrite = fileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  info.changeTime = fileTimeFromUnix(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
  info.inode = static_cast<uint64_t>(st.st_ino);
  return info;
}

struct DirCloser {
  void operator()(DIR* d) const noexcept { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

std::error_code stat(const std::string& path, EntryInfo& info) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    info = {};
    return lastError();
  }
  info = infoFrom(st);
  return {};
}

bool isAbsence(const std::error_code& ec) {
  return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 || !isAbsence(lastError());
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::error_code createDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) != 0 ? lastError() : std::error_code{};
}

std::error_code createDirectories(const std::string& path, unsigned mode) {
  if (path.empty()) return std::make_error_code(std::errc::invalid_argument);
  if (isDirectory(path)) return {};
  const std::string parent = parentPath(path);
  if (!parent.empty() && parent != path) {
    if (auto ec = createDirectories(parent, mode)) return ec;
  }
  if (::mkdir(path.c_str(), mode) != 0 && !(errno == EEXIST && isDirectory(path))) {
    return lastError();
  }
  return {};
}

std::error_code removeDirectory(const std::string& path) {
  return ::rmdir(path.c_str()) != 0 ? lastError() : std::error_code{};
}

std::error_code removeFile(const std::string& path) {
  return ::unlink(path.c_str()) != 0 ? lastError() : std::error_code{};
}

std::error_code removeTree(const std::string& path) {
  EntryInfo info;
  if (auto ec = stat(path, info)) {
    return ec == std::errc::no_such_file_or_directory ? std::error_code{} : ec;
  }
  if (info.type != EntryType::Directory) return removeFile(path);
  std::vector<DirEntry> entries;
  if (auto ec = listDirectory(path, entries)) return ec;
  for (const auto& e : entries) {
    if (auto ec = removeTree(joinPath(path, e.name))) return ec;
  }
  return removeDirectory(path);
}

std::error_code rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) != 0 ? lastError() : std::error_code{};
}

// The kernel's no-replace flag where the file system takes it. FUSE and
// network file systems (FAT and exFAT through FUSE, NFS, sshfs) often refuse
// the flag with EINVAL: then a hard link, which never replaces either, and
// where there are no hard links (FAT, folders) a look at the target just
// before a plain rename, which leaves only the moment between the two open.
std::error_code renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return lastError();
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (::unlink(from.c_str()) == 0) return {};
    const std::error_code ec = lastError();
    ::unlink(to.c_str());  // back to one name, as before the call
    return ec;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) {
    return lastError();  // EEXIST among them
  }
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return std::make_error_code(std::errc::file_exists);
  if (errno != ENOENT) return lastError();
  return rename(from, to);
}

std::error_code exchange(const std::string& a, const std::string& b) {
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return {};
  if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
    return std::make_error_code(std::errc::not_supported);
  return lastError();
}

std::error_code copyFile(const std::string& from, const std::string& to, bool failIfExists) {
  File in;
  if (auto ec = in.open(from, File::Mode::Read)) return ec;
  File out;
  if (auto ec = out.open(to, failIfExists ? File::Mode::CreateNew : File::Mode::CreateTruncate))
    return ec;
  std::unique_ptr<char[]> buf(new char[1 << 20]);
  uint64_t offset = 0;
  std::error_code ec;
  for (;;) {
    size_t got = 0;
    if ((ec = in.readAt(offset, buf.get(), 1 << 20, got)) || got == 0) break;
    if ((ec = out.writeAt(offset, buf.get(), got))) break;
    offset += got;
  }
  if (ec && failIfExists) {
    out.close();
    ::unlink(to.c_str());
  }
  return ec;
}

std::error_code setLastWriteTime(const std::string& path, FileTime time) {
  int64_t s, ns;
  fileTimeToUnix(time, s, ns);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time unchanged
  times[1].tv_sec = static_cast<time_t>(s);
  times[1].tv_nsec = static_cast<long>(ns);
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0 ? lastError()
                                                                              : std::error_code{};
}

std::error_code readFile(const std::string& path, std::string& out) {
  out.clear();
  File f;
  if (auto ec = f.open(path, File::Mode::Read)) return ec;
  uint64_t size = 0;
  if (auto ec = f.size(size)) return ec;
  out.resize(size);
  size_t got = 0;
  if (auto ec = f.readAt(0, out.data(), out.size(), got)) return ec;
  out.resize(got);
  return {};
}

std::error_code writeFile(const std::string& path, std::string_view data, unsigned mode) {
  File f;
  if (auto ec = f.open(path, File::Mode::CreateTruncate, mode)) return ec;
  return f.writeAt(0, data.data(), data.size());
}

std::error_code writeFileAtomic(const std::string& path, std::string_view data, unsigned mode) {
  const std::string tmp = path + ".tmp-" + newUuid();
  {
    File f;
    if (auto ec = f.open(tmp, File::Mode::CreateTruncate, mode)) return ec;
    std::error_code ec = f.writeAt(0, data.data(), data.size());
    if (!ec) ec = f.sync();
    if (ec) {
      ::unlink(tmp.c_str());
      return ec;
    }
  }
  if (auto ec = rename(tmp, path)) {
    ::unlink(tmp.c_str());
    return ec;
  }
  return {};
}

std::error_code syncDirectory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return lastError();
  std::error_code ec = ::fsync(fd) != 0 ? lastError() : std::error_code{};
  ::close(fd);
  // ENOTSUP is EOPNOTSUPP here.
  if (ec == std::errc::invalid_argument || ec == std::errc::not_supported ||
      ec == std::errc::function_not_supported)
    return {};
  return ec;
}

std::error_code availableSpace(const std::string& path, uint64_t& out) {
  struct statvfs fs {};
  if (::statvfs(path.c_str(), &fs) != 0) return lastError();
  out = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return {};
}

std::error_code allocatedSpace(const std::string& path, uint64_t& out) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return lastError();
  out = static_cast<uint64_t>(st.st_blocks) * 512;  // st_blocks counts 512-byte units
  return {};
}

std::error_code readRange(const std::string& path, uint64_t offset, size_t length,
                          std::string& out) {
  out.clear();
  File f;
  if (auto ec = f.open(path, File::Mode::Read)) return ec;
  out.resize(length);
  size_t got = 0;
  if (auto ec = f.readAt(offset, out.data(), length, got)) return ec;
  out.resize(got);
  return {};
}

std::error_code listDirectory(const std::string& path, std::vector<DirEntry>& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return lastError();
  DirHandle dir(::fdopendir(fd));
  if (!dir) {
    const auto ec = lastError();
    ::close(fd);
    return ec;
  }
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir.get());
    if (d == nullptr) {
      if (errno != 0) return lastError();
      break;
    }
    const std::string_view name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // vanished while listing
      return lastError();
    }
    out.push_back({std::string(name), infoFrom(st)});
  }
  return {};
}

std::string joinPath(std::string_view base, std::string_view name) {
  if (base.empty()) return std::string(name);
  std::string out(base);
  if (out.back() != '/') out.push_back('/');
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  out.append(name);
  return out;
}

std::string parentPath(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto pos = path.rfind('/');
  if (pos == std::string_view::npos) return {};
  if (pos == 0) return "/";
  return std::string(path.substr(0, pos));
}

std::string fileName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto pos = path.rfind('/');
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

}  // namespace platform::files
