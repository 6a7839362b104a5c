#include "InstalledVersion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Version.h"

#ifndef VARNELO_VERSION
#error "VARNELO_VERSION must come from the build"
#endif

namespace varnelo::host {
namespace {

struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

std::nullopt_t fail(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
  return std::nullopt;
}

// Root's (or, for a host that is not root, its own) and nobody else's to
// change.
bool trustworthy(const struct stat& st) {
  return (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::nullopt_t cannot_open(std::string* why, const std::string& path) {
  if (errno == ELOOP || errno == ENOTDIR) return fail(why, path + " is a link or not a folder");
  return fail(why, "cannot open " + path + ": " + strerror(errno));
}

bool is_this_host(const std::string& program) {
  struct stat self {};
  struct stat other {};
  return stat("/proc/self/exe", &self) == 0 && stat(program.c_str(), &other) == 0 &&
         self.st_dev == other.st_dev && self.st_ino == other.st_ino;
}

}  // namespace

std::optional<std::string> read_installed_version(const std::string& prefix, std::string* why) {
  // Step by step from the folder down, never through a link, so that what
  // was checked is what is read. The folders above `prefix` are the
  // administrator's choice (it may be a link itself).
  Fd dir(open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (dir.fd < 0 || fstat(dir.fd, &st) != 0)
    return fail(why, "cannot open " + prefix + ": " + strerror(errno));
  if (!trustworthy(st)) return fail(why, prefix + " may be changed by others than root");
  std::string path = prefix;
  for (const char* folder : {"share", "varnelo"}) {
    path += std::string("/") + folder;
    Fd next(openat(dir.fd, folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.fd < 0 || fstat(next.fd, &st) != 0) return cannot_open(why, path);
    if (!trustworthy(st)) return fail(why, path + " may be changed by others than root");
    std::swap(dir.fd, next.fd);
  }
  path += "/version";
  // Without waiting for a writer, should it be a FIFO.
  Fd file(openat(dir.fd, "version", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.fd < 0 || fstat(file.fd, &st) != 0) return cannot_open(why, path);
  if (!S_ISREG(st.st_mode)) return fail(why, path + " is not a file");
  if (!trustworthy(st)) return fail(why, path + " may be changed by others than root");
  char text[64];
  ssize_t n = read(file.fd, text, sizeof text);
  if (n < 0) return fail(why, "cannot read " + path + ": " + strerror(errno));
  // A record that fills the buffer is longer than any version.
  std::string version(text, static_cast<size_t>(n));
  while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) version.pop_back();
  if (version.empty() || static_cast<size_t>(n) == sizeof text ||
      version.find_first_not_of(
          "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-") !=
          std::string::npos ||
      parse_version(version).empty())
    return fail(why, path + " holds no version");
  return version;
}

std::string installer_prefix(const std::vector<std::string>& installerArgs) {
  std::string prefix;
  for (const std::string& arg : installerArgs)
    if (arg.rfind("--prefix=", 0) == 0) prefix = arg.substr(9);
  if (!prefix.empty()) return prefix;
  // The installer's own default, as it computes it.
  const char* home = getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : "/nonexistent") +
         "/.local/opt/varnelo";
}

std::optional<std::string> refuse_not_newer(const std::string& version, const std::string& prefix) {
  // Versions that do not compare (another number of components) are not
  // newer either: the user's host would not have downloaded them.
  if (compare_versions(version, VARNELO_VERSION) <= 0)
    return "version " + version + " is not newer than this host's " VARNELO_VERSION;
  std::string why;
  auto installed = read_installed_version(prefix, &why);
  if (installed) {
    if (compare_versions(version, *installed) <= 0)
      return "version " + version + " is not newer than " + *installed + ", installed in " + prefix;
    return std::nullopt;
  }
  // Nothing recorded: only an empty folder, or the installation this host
  // is itself part of (its own version counted above), says nothing newer
  // is there.
  std::string program = prefix + "/bin/varnelohost";
  struct stat st {};
  if (lstat(program.c_str(), &st) != 0 || is_this_host(program)) return std::nullopt;
  return "cannot tell which version is installed in " + prefix + " (" + why + ")";
}

}  // namespace varnelo::host
