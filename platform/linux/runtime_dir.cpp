#include "platform/runtime_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

std::error_code notOurs() {
  return std::make_error_code(std::errc::operation_not_permitted);
}

// Whether group and others may already have used a folder of ours: in the
// shared temporary folder they could then have left a socket of theirs in
// it under one of our names, so such a folder is passed over rather than
// narrowed. In a place only we can reach, narrowing it is enough.
enum class Place { kPrivate, kShared };

// `path` as a folder of ours, looked at without following a link: made
// 0700 when missing, narrowed to 0700 when it is ours (and, in a shared
// place, open to nobody else). EPERM for anything else, which is left as it
// is.
std::error_code claimFolder(const std::string& path, Place place) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return lastError();
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return lastError();
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return notOurs();
  if (place == Place::kShared && (st.st_mode & 077) != 0) return notOurs();
  // Nobody else may rename or replace a folder of ours, here or in a
  // sticky temporary folder, so chmod reaches the folder just looked at.
  if ((st.st_mode & 0777) != 0700 && ::chmod(path.c_str(), 0700) != 0) return lastError();
  return {};
}

// True when `path` is a real folder of ours (without making it).
bool isOurFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// A runtime directory that is not ours (sudo keeps the invoking user's) is
// not used: our folder inside it would then bar its real owner.
bool usableRuntimeBase(const std::string& base) {
  if (base.empty() || base[0] != '/') return false;
  struct stat st {};
  return ::stat(base.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

std::string secondChoice(const RuntimePlaces& places) {
  if (places.home.empty() || places.home[0] != '/') return {};
  return places.home + "/.cache/varnelo/run";
}

// The second choice, with the folders above it inside the home: these may
// be links the user made (a cache elsewhere), but must be ours and closed
// to others' writes, or someone else could swap the folder below.
std::error_code claimSecondChoice(const std::string& path) {
  std::string cache = path.substr(0, path.rfind('/'));
  std::string dotCache = cache.substr(0, cache.rfind('/'));
  for (const std::string& folder : {dotCache, cache}) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return lastError();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return lastError();
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
      return notOurs();
  }
  return claimFolder(path, Place::kPrivate);
}

}  // namespace

RuntimePlaces currentRuntimePlaces() {
  RuntimePlaces places;
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR")) places.runtimeDir = dir;
  // The password database rather than $HOME: two processes of one user
  // must find the same folder, and sudo, cron or an installer may each hand
  // a process another HOME (and XDG_CACHE_HOME).
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    places.home = found->pw_dir;
  } else if (const char* home = std::getenv("HOME")) {
    places.home = home;
  }
  return places;
}

std::error_code runtimeFolderAt(const RuntimePlaces& places, std::string& out) {
  if (usableRuntimeBase(places.runtimeDir)) {
    std::string path = places.runtimeDir + "/varnelo";
    if (auto ec = claimFolder(path, Place::kPrivate)) return ec;
    out = std::move(path);
    return {};
  }
  // Once the name in /tmp was taken from us (or /tmp failed us otherwise),
  // the second choice stays the one: a process started after the squatter
  // left must still find the ones that went there.
  const std::string second = secondChoice(places);
  if (!second.empty() && isOurFolder(second) && !claimSecondChoice(second)) {
    out = second;
    return {};
  }
  std::string path =
      places.tmp + "/varnelo-" + std::to_string(static_cast<unsigned long>(::geteuid()));
  auto ec = claimFolder(path, Place::kShared);
  if (ec && !second.empty()) {
    path = second;
    ec = claimSecondChoice(second);
  }
  if (ec) return ec;
  out = std::move(path);
  return {};
}

std::error_code runtimeFolder(std::string& out) {
  return runtimeFolderAt(currentRuntimePlaces(), out);
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
