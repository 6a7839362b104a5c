#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

// Creates `path` 0700 when missing and checks that it is ours.
std::error_code privateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return lastError();
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return lastError();
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    return std::make_error_code(std::errc::operation_not_permitted);
  }
  if ((st.st_mode & 0777) != 0700 && ::chmod(path.c_str(), 0700) != 0) return lastError();
  return {};
}

// A runtime directory that is not ours (sudo keeps the invoking user's) is
// not used: our folder inside it would then bar its real owner.
bool usableRuntimeBase(const char* base) {
  if (base == nullptr || base[0] != '/') return false;
  struct stat st {};
  return ::stat(base, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

}  // namespace

std::error_code runtimeFolder(std::string& out) {
  const char* base = std::getenv("XDG_RUNTIME_DIR");
  std::string path =
      usableRuntimeBase(base)
          ? std::string(base) + "/varnelo"
          : "/tmp/varnelo-" + std::to_string(static_cast<unsigned long>(::geteuid()));
  if (auto ec = privateFolder(path)) return ec;
  out = std::move(path);
  return {};
}

std::string objectFileName(std::string_view name) {
  for (std::string_view prefix : {"Global\\", "Local\\"}) {
    if (name.substr(0, prefix.size()) == prefix) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  if (name.size() > 200) return {};
  std::string out;
  for (char c : name) {
    if (c == '{' || c == '}') continue;
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
    out.push_back(keep ? c : '_');
  }
  if (out.empty() || out == "." || out == "..") return {};
  return out;
}

}  // namespace platform
