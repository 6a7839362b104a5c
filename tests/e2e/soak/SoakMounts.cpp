#include "SoakMounts.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnelo::soak {
namespace {

int g_state = 0;  // 0 not tried, 1 entered, -1 refused
std::string g_why;

bool writeTo(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

std::string failed(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

bool enterPrivateMounts(std::string* why) {
  if (g_state == 0) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      g_why = failed("unshare of a user and mount namespace");
    } else if (!writeTo("/proc/self/setgroups", "deny") ||
               !writeTo("/proc/self/uid_map",
                        std::to_string(uid) + " " + std::to_string(uid) + " 1\n") ||
               !writeTo("/proc/self/gid_map",
                        std::to_string(gid) + " " + std::to_string(gid) + " 1\n")) {
      g_why = failed("mapping the user into the new namespace");
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      // Without this, mounts made here would show in the system's namespace.
      g_why = failed("making the mounts private");
    }
    g_state = g_why.empty() ? 1 : -1;
  }
  if (why) *why = g_why;
  return g_state == 1;
}

bool privateMountsAvailable() {
  return g_state == 1;
}

SubMount::~SubMount() {
  if (attached_) umount2(at_.c_str(), MNT_DETACH);
  if (storeMounted_) umount2(store_.c_str(), MNT_DETACH);
}

bool SubMount::attach(std::string* why) {
  if (attached_) return true;
  if (!storeMounted_) {
    if (mkdir(store_.c_str(), 0755) != 0 && errno != EEXIST) {
      *why = failed("mkdir " + store_);
      return false;
    }
    if (mount("soak", store_.c_str(), "tmpfs", 0, "size=64m,mode=0755") != 0) {
      *why = failed("mounting a tmpfs at " + store_);
      return false;
    }
    storeMounted_ = true;
  }
  if (mkdir(at_.c_str(), 0755) != 0 && errno != EEXIST) {
    *why = failed("mkdir " + at_);
    return false;
  }
  if (mount(store_.c_str(), at_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    *why = failed("bind mount at " + at_);
    return false;
  }
  attached_ = true;
  return true;
}

bool SubMount::detach(std::string* why) {
  if (!attached_) return true;
  // Lazily: the engine may hold files open in it, as with a pulled disk.
  if (umount2(at_.c_str(), MNT_DETACH) != 0) {
    *why = failed("unmounting " + at_);
    return false;
  }
  attached_ = false;
  return true;
}

}  // namespace varnelo::soak
