// A file system mounted on a folder of a watched tree, or unmounted from
// it: the waiter hears of it, and the watch moves to what the folder shows
// now. Mounting needs a user and mount namespace, made in a forked child so
// that the test process keeps its own mounts; where the system refuses one
// the test is skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/dir_watch.h"
#include "platform/files.h"
#include "test_folder.h"

namespace {

namespace files = platform::files;
using platform::DirChange;
using platform::DirWatch;
using platform::DirWatchWaiter;
using Kind = platform::DirChange::Kind;

constexpr uint32_t kNames = platform::kWatchFileName | platform::kWatchDirName;
constexpr const char* kSkipped = "skipped";

bool writeText(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// Runs `body` in a child of its own user and mount namespace; its answer
// (empty: passed) comes back through a pipe.
std::string inMountNamespace(const std::function<std::string()>& body) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "no pipe";
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    std::string answer = kSkipped;
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && writeText("/proc/self/setgroups", "deny") &&
        writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
        writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      answer = body();
    }
    [[maybe_unused]] ssize_t n = ::write(pipeFds[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string answer;
  char chunk[512];
  for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) answer.append(chunk, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return pid < 0 ? "no child" : answer;
}

std::string describe(const std::vector<DirChange>& changes) {
  std::string text;
  for (const auto& c : changes)
    text += std::to_string(static_cast<int>(c.kind)) + ":" + c.name + " ";
  return text;
}

// Waits until the mount table changed, then asks the watch.
bool mountsChanged(DirWatchWaiter& waiter, DirWatch& watch, std::vector<DirChange>& out) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    std::vector<size_t> ready;
    bool woken = false;
    std::vector<DirWatch*> watches{&watch};
    if (waiter.wait(watches, ready, woken, 100)) return false;
    if (!ready.empty() && watch.read(out)) return false;
    if (waiter.mountsChanged()) return !watch.checkMounts(out);
  }
  return false;
}

// Reads until `name` is reported as added.
bool added(DirWatchWaiter& waiter, DirWatch& watch, const std::string& name,
           std::vector<DirChange>& out) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& c : out) {
      if (c.kind == Kind::Added && c.name == name) return true;
    }
    std::vector<size_t> ready;
    bool woken = false;
    std::vector<DirWatch*> watches{&watch};
    if (waiter.wait(watches, ready, woken, 100)) return false;
    if (!ready.empty() && watch.read(out)) return false;
  }
  return false;
}

TEST(DirWatchMountTest, AFolderMountedOnOrUnmountedFromIsWatchedAsItIsNow) {
  platform::testing::TempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  const std::string tree = temp / "tree";
  const std::string disk = tree + "/sub/disk 1";  // the mount table escapes the space
  const std::string elsewhere = temp / "elsewhere";
  ASSERT_FALSE(files::createDirectories(disk));
  ASSERT_FALSE(files::createDirectory(elsewhere));
  const std::string answer = inMountNamespace([&]() -> std::string {
    DirWatchWaiter waiter;
    DirWatch watch;
    if (waiter.open() || watch.open(tree, kNames, true)) return "watch not opened";
    std::vector<DirChange> out;
    // A mount beside the tree changes nothing in it.
    if (::mount("tmpfs", elsewhere.c_str(), "tmpfs", 0, nullptr) != 0) return kSkipped;
    if (!mountsChanged(waiter, watch, out) || !out.empty())
      return "a mount elsewhere: " + describe(out);

    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, nullptr) != 0) return "tmpfs not mounted";
    if (!mountsChanged(waiter, watch, out) || describe(out) != "6:sub/disk 1 ")
      return "mounted: " + describe(out);
    out.clear();
    if (files::createDirectory(disk + "/in") || files::writeFile(disk + "/in/x.txt", "x"))
      return "not written on the disk";
    if (!added(waiter, watch, "sub/disk 1/in/x.txt", out)) return "on the disk: " + describe(out);

    out.clear();
    if (::umount(disk.c_str()) != 0) return "not unmounted";
    if (!mountsChanged(waiter, watch, out)) return "no notice of the unmount";
    bool remounted = false;
    for (const auto& c : out)
      remounted = remounted || (c.kind == Kind::Remounted && c.name == "sub/disk 1");
    if (!remounted) return "unmounted: " + describe(out);
    out.clear();
    // The folder the disk covered is watched again.
    if (files::writeFile(disk + "/y.txt", "y")) return "not written in the folder";
    if (!added(waiter, watch, "sub/disk 1/y.txt", out)) return "in the folder: " + describe(out);
    return {};
  });
  if (answer == kSkipped) GTEST_SKIP() << "user and mount namespaces are not available";
  EXPECT_EQ(answer, "");
}

}  // namespace
