#include "InvokingUser.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HostLog.h"

namespace varnelo::host {
namespace {

std::optional<uid_t> parse_uid(const char* text) {
  if (text == nullptr || *text == '\0' || strlen(text) > 10) return std::nullopt;
  uint64_t value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(*c - '0');
  }
  if (value == 0 || value >= static_cast<uint64_t>(static_cast<uid_t>(-1))) return std::nullopt;
  return static_cast<uid_t>(value);
}

bool owned_by(const std::string& path, uid_t uid) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == uid;
}

}  // namespace

std::optional<InvokingUser> invoking_user() {
  if (getuid() != 0 && geteuid() != 0) return std::nullopt;
  for (const char* name : {"PKEXEC_UID", "SUDO_UID"}) {
    auto uid = parse_uid(getenv(name));
    if (!uid) continue;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
      host_log(kHostWarning, "%s names uid %u, which has no entry in the user database", name,
               static_cast<unsigned>(*uid));
      continue;
    }
    return InvokingUser{found->pw_uid, found->pw_gid, found->pw_name,
                        found->pw_dir != nullptr ? found->pw_dir : ""};
  }
  return std::nullopt;
}

bool become_user(const InvokingUser& user) {
  setenv("HOME", user.home.c_str(), 1);
  setenv("USER", user.name.c_str(), 1);
  setenv("LOGNAME", user.name.c_str(), 1);
  // sudo may keep root's values (or the user's, with -E); pkexec keeps none.
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
    const char* value = getenv(name);
    if (value != nullptr && !owned_by(value, user.uid)) unsetenv(name);
  }
  std::string runtime = "/run/user/" + std::to_string(user.uid);
  if (owned_by(runtime, user.uid))
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
  // Groups first: once the uid is given up, they cannot be changed.
  if (initgroups(user.name.c_str(), user.gid) != 0 || setgid(user.gid) != 0 ||
      setuid(user.uid) != 0 || getuid() != user.uid || geteuid() != user.uid) {
    host_log(kHostError, "cannot act as %s (uid %u): %s", user.name.c_str(),
             static_cast<unsigned>(user.uid), strerror(errno));
    return false;
  }
  host_log(kHostInfo, "running as root on behalf of %s (uid %u)", user.name.c_str(),
           static_cast<unsigned>(user.uid));
  return true;
}

}  // namespace varnelo::host
