#include "platform/dir_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace platform {
namespace {

// How long a rename's old-name event may wait for its new-name event. The
// kernel queues both inside one rename call, so the second one follows
// within microseconds; if it has not come by then the entry left the tree.
constexpr int kPairWaitMillis = 5;
constexpr size_t kReadBufferSize = 64 * 1024;
// Folders remembered as not yet watchable; past this many, a periodic scan
// finds what the ones beyond it hold.
constexpr size_t kMaxMissed = 4096;

std::error_code errnoCode(int error) {
  return {error, std::generic_category()};
}

std::string joinRel(const std::string& rel, const std::string& name) {
  if (rel.empty()) return name;
  if (name.empty()) return rel;
  return rel + "/" + name;
}

bool isSameOrBelow(const std::string& path, const std::string& folder) {
  if (folder.empty()) return true;
  return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

uint32_t inotifyMask(uint32_t filter) {
  // Names are always needed, whatever the filter: they keep the folder map
  // up to date.
  uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                  IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;
  if (filter & (kWatchSize | kWatchLastWrite)) mask |= IN_MODIFY;
  if (filter & (kWatchAttributes | kWatchLastWrite | kWatchCreation | kWatchSecurity)) {
    mask |= IN_ATTRIB;
  }
  if (filter & kWatchLastAccess) mask |= IN_ACCESS;
  return mask;
}

constexpr const char* kMountTable = "/proc/self/mountinfo";

// A mount point as the mount table writes it: space, tab, newline and
// backslash as three octal digits after a backslash.
std::string unescapedMountPath(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() &&
        std::all_of(text.begin() + i + 1, text.begin() + i + 4,
                    [](char c) { return c >= '0' && c <= '7'; })) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                               (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The mount points strictly below `dir` (relative path → mount id). A
// mount point listed twice (a mount stacked on another) shows the later one.
std::error_code mountsBelow(const std::string& dir, std::map<std::string, uint64_t>& out) {
  out.clear();
  // The table lists resolved paths.
  char resolved[PATH_MAX];
  if (!::realpath(dir.c_str(), resolved)) return errnoCode(errno);
  std::string prefix = resolved;
  if (prefix.back() != '/') prefix += '/';
  const int fd = ::open(kMountTable, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errnoCode(errno);
  std::string table;
  char chunk[16384];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    table.append(chunk, static_cast<size_t>(got));
  }
  ::close(fd);
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    // "36 35 98:0 /mnt1 /mnt/parent rw,noatime ...": id, parent id, device,
    // root, mount point.
    std::istringstream fields(line);
    uint64_t id = 0;
    std::string parent, device, root, point;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    point = unescapedMountPath(point);
    if (point.size() > prefix.size() && point.compare(0, prefix.size(), prefix) == 0)
      out[point.substr(prefix.size())] = id;
  }
  return {};
}

}  // namespace

DirWatch::~DirWatch() {
  close();
}

void DirWatch::close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  rootWd_ = -1;
  folders_.clear();
  missed_.clear();
  pending_.clear();
  next_ = 0;
  mounts_.clear();
}

std::string DirWatch::fullPath(const std::string& rel) const {
  if (rel.empty()) return root_;
  if (!root_.empty() && root_.back() == '/') return root_ + rel;
  return root_ + "/" + rel;
}

std::error_code DirWatch::open(const std::string& dir, uint32_t filter, bool subtree) {
  close();
  root_ = dir;
  filter_ = filter;
  mask_ = inotifyMask(filter);
  subtree_ = subtree;
  buffer_.resize(kReadBufferSize);
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return errnoCode(errno);

  int wd = ::inotify_add_watch(fd_, dir.c_str(), mask_);
  if (wd < 0) {
    const int error = errno;
    close();
    return errnoCode(error);
  }
  rootWd_ = wd;
  folders_[wd] = "";
  // Read before the walk: a mount made meanwhile is then seen as changed.
  if (subtree) mountsBelow(dir, mounts_);
  if (subtree) {
    std::vector<DirChange> unused;
    if (auto ec = addTree("", false, unused)) {
      close();
      return ec;
    }
  }
  return {};
}

std::error_code DirWatch::addFolder(const std::string& rel) {
  if (fault_.load() == static_cast<int>(DirWatchFault::WatchLimit)) {
    fault_.store(0);
    return errnoCode(ENOSPC);
  }
  const int wd = ::inotify_add_watch(fd_, fullPath(rel).c_str(), mask_);
  if (wd < 0) {
    // A folder that vanished or was replaced before we got to it is reported
    // by its own events, and so is one whose parent was renamed meanwhile:
    // the rename's events follow, and the folder is watched where they say
    // it went. One we may not read cannot be synchronised anyway.
    if (errno == ENOENT || errno == ENOTDIR) {
      rememberMissed(rel);
      return {};
    }
    if (errno == EACCES) return {};
    return errnoCode(errno);
  }
  folders_[wd] = rel;
  return {};
}

// Watches every folder below `rel` (which is watched already), depth first;
// with `report`, every entry found is appended as Added, parents first.
std::error_code DirWatch::addTree(const std::string& rel, bool report,
                                  std::vector<DirChange>& out) {
  std::vector<std::string> stack{rel};
  while (!stack.empty()) {
    const std::string folder = std::move(stack.back());
    stack.pop_back();
    DIR* handle = ::opendir(fullPath(folder).c_str());
    if (!handle) {
      // Gone or unreadable: nothing below to watch. Or moved with a parent
      // renamed just now, before what it holds was read.
      if (errno == ENOENT || errno == ENOTDIR) rememberMissed(folder);
      continue;
    }
    while (const dirent* entry = ::readdir(handle)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = joinRel(folder, name);
      bool isDir = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat st;
        isDir = ::lstat(fullPath(child).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      if (report && reports(isDir, IN_CREATE)) out.push_back({DirChange::Kind::Added, child});
      if (!isDir) continue;
      if (auto ec = addFolder(child)) {
        ::closedir(handle);
        return ec;
      }
      stack.push_back(child);
    }
    ::closedir(handle);
  }
  return {};
}

void DirWatch::dropTree(const std::string& rel) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->first != rootWd_ && isSameOrBelow(it->second, rel)) {
      ::inotify_rm_watch(fd_, it->first);  // the kernel may have dropped it already
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
  takeMissed(rel);
}

bool DirWatch::renameTree(const std::string& from, const std::string& to) {
  bool found = false;
  for (auto& [wd, path] : folders_) {
    if (wd == rootWd_ || !isSameOrBelow(path, from)) continue;
    found = found || path.size() == from.size();
    path = to + path.substr(from.size());
  }
  for (std::string& path : missed_) {
    if (isSameOrBelow(path, from)) path = to + path.substr(from.size());
  }
  return found;
}

void DirWatch::rememberMissed(const std::string& rel) {
  if (missed_.size() < kMaxMissed &&
      std::find(missed_.begin(), missed_.end(), rel) == missed_.end())
    missed_.push_back(rel);
}

std::vector<std::string> DirWatch::takeMissed(const std::string& rel) {
  std::vector<std::string> found;
  std::erase_if(missed_, [&](const std::string& path) {
    if (!isSameOrBelow(path, rel)) return false;
    found.push_back(path);
    return true;
  });
  return found;
}

std::error_code DirWatch::watchMissed(const std::string& rel, std::vector<DirChange>& out) {
  for (const std::string& folder : takeMissed(rel)) {
    const size_t before = missed_.size();
    if (auto ec = addFolder(folder)) return ec;
    if (missed_.size() != before) continue;  // still nowhere: a later rename says where
    if (auto ec = addTree(folder, true, out)) return ec;
  }
  return {};
}

bool DirWatch::reports(bool isDir, uint32_t mask) const {
  if (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) {
    return (filter_ & (isDir ? kWatchDirName : kWatchFileName)) != 0;
  }
  if (mask & IN_MODIFY) return (filter_ & (kWatchSize | kWatchLastWrite)) != 0;
  if (mask & IN_ATTRIB) {
    return (filter_ & (kWatchAttributes | kWatchLastWrite | kWatchCreation | kWatchSecurity)) != 0;
  }
  if (mask & IN_ACCESS) return (filter_ & kWatchLastAccess) != 0;
  return false;
}

// Reads what the kernel has queued into pending_, waiting up to
// `waitMillis` for the first byte. False when nothing could be read.
bool DirWatch::fillPending(int waitMillis) {
  if (waitMillis > 0) {
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, waitMillis) <= 0) return false;
  }
  bool any = false;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
    if (got <= 0) break;  // EAGAIN: drained
    any = true;
    const auto now = std::chrono::steady_clock::now();
    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event header;
      std::memcpy(&header, buffer_.data() + offset, sizeof header);
      const char* name = buffer_.data() + offset + sizeof header;
      pending_.push_back({header.wd, header.mask, header.cookie,
                          header.len ? std::string(name, strnlen(name, header.len)) : "", now});
      offset += static_cast<ssize_t>(sizeof header + header.len);
    }
  }
  if (any && fault_.load() == static_cast<int>(DirWatchFault::QueueOverflow)) {
    fault_.store(0);
    pending_.push_back({-1, IN_Q_OVERFLOW, 0, "", std::chrono::steady_clock::now()});
  }
  return any;
}

size_t DirWatch::findMovedTo(size_t from, uint32_t cookie) const {
  for (size_t i = from; i < pending_.size(); ++i) {
    if ((pending_[i].mask & IN_MOVED_TO) && pending_[i].cookie == cookie) return i;
  }
  return pending_.size();
}

std::error_code DirWatch::read(std::vector<DirChange>& out) {
  if (fd_ < 0) return errnoCode(EBADF);
  fillPending(0);
  while (next_ < pending_.size()) {
    const size_t index = next_++;
    if (auto ec = handle(index, out)) {
      pending_.clear();
      next_ = 0;
      return ec;
    }
  }
  pending_.clear();
  next_ = 0;
  return {};
}

std::error_code DirWatch::handle(size_t index, std::vector<DirChange>& out) {
  const RawEvent event = pending_[index];
  if (event.mask & IN_Q_OVERFLOW) return errnoCode(EOVERFLOW);
  if (event.wd == -2) return {};  // a new name already paired with its old name
  const auto folder = folders_.find(event.wd);
  if (folder == folders_.end()) return {};  // a folder we stopped watching
  if (event.wd == rootWd_) {
    if (event.mask & IN_UNMOUNT) return errnoCode(ENODEV);
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) return errnoCode(ENOENT);
  }
  if (event.mask & IN_IGNORED) {
    folders_.erase(folder);
    return {};
  }
  // Events about a folder itself are reported by its parent, by name.
  if (event.name.empty()) return {};

  const bool isDir = (event.mask & IN_ISDIR) != 0;
  const std::string rel = joinRel(folder->second, event.name);
  if (event.mask & IN_CREATE) {
    if (reports(isDir, IN_CREATE)) out.push_back({DirChange::Kind::Added, rel});
    if (isDir && subtree_) {
      if (auto ec = addFolder(rel)) return ec;
      return addTree(rel, true, out);
    }
  } else if (event.mask & IN_DELETE) {
    if (reports(isDir, IN_DELETE)) out.push_back({DirChange::Kind::Removed, rel});
    if (isDir) dropTree(rel);
  } else if (event.mask & IN_MOVED_FROM) {
    size_t to = findMovedTo(index + 1, event.cookie);
    // The kernel queues the new name right after the old one; what it has
    // not queued a moment after the old name came is never coming (a name
    // moved out of the tree, or into a folder not watched yet). The wait
    // counts from when the old name was read, so a reader running behind
    // (the events of thousands of files queued) does not wait for each.
    const auto deadline = event.readAt + std::chrono::milliseconds(kPairWaitMillis);
    if (to == pending_.size()) {
      fillPending(0);
      to = findMovedTo(index + 1, event.cookie);
    }
    while (to == pending_.size()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0 || !fillPending(static_cast<int>(left))) break;
      to = findMovedTo(index + 1, event.cookie);
    }
    const auto target = to < pending_.size() ? folders_.find(pending_[to].wd) : folders_.end();
    if (target == folders_.end()) {  // moved out of the tree
      if (reports(isDir, IN_MOVED_FROM)) out.push_back({DirChange::Kind::Removed, rel});
      if (isDir) dropTree(rel);
      return {};
    }
    const std::string newRel = joinRel(target->second, pending_[to].name);
    pending_[to].wd = -2;  // consumed here
    if (reports(isDir, IN_MOVED_FROM)) {
      out.push_back({DirChange::Kind::OldName, rel});
      out.push_back({DirChange::Kind::NewName, newRel});
    }
    // A folder renamed right after it was made may have been renamed
    // before its creation event was read, when its old name no longer led
    // to it: then it is watched (and what it holds reported) now.
    if (!isDir) return {};
    if (!renameTree(rel, newRel) && subtree_) {
      // The walk covers what was remembered below it.
      takeMissed(newRel);
      if (auto ec = addFolder(newRel)) return ec;
      return addTree(newRel, true, out);
    }
    // Folders made inside it just before the rename are watched now.
    return watchMissed(newRel, out);
  } else if (event.mask & IN_MOVED_TO) {  // moved into the tree
    if (reports(isDir, IN_MOVED_TO)) out.push_back({DirChange::Kind::Added, rel});
    if (isDir && subtree_) {
      if (auto ec = addFolder(rel)) return ec;
      return addTree(rel, true, out);
    }
  } else {
    if (reports(isDir, event.mask)) out.push_back({DirChange::Kind::Modified, rel});
    if (isDir && subtree_ && (event.mask & IN_ATTRIB)) return watchIfReadable(rel, out);
  }
  return {};
}

std::error_code DirWatch::watchIfReadable(const std::string& rel, std::vector<DirChange>& out) {
  // The kernel gives a folder watched already its own descriptor back.
  const int wd = ::inotify_add_watch(fd_, fullPath(rel).c_str(), mask_);
  if (wd < 0) {
    // Still unreadable, or gone (its own events follow); a full watch table
    // is said as addFolder says it.
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES) return {};
    return errnoCode(errno);
  }
  if (!folders_.emplace(wd, rel).second) return {};
  return addTree(rel, true, out);
}

bool DirWatch::isWatchedFolder(const std::string& rel) const {
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const auto& folder) { return folder.second == rel; });
}

std::error_code DirWatch::checkMounts(std::vector<DirChange>& out) {
  if (fd_ < 0) return errnoCode(EBADF);
  if (!subtree_) return {};
  std::map<std::string, uint64_t> now;
  if (mountsBelow(root_, now)) return {};  // the folder itself went: its own events say so
  std::vector<std::string> changed;
  for (const auto& [rel, id] : now) {
    const auto before = mounts_.find(rel);
    if (before == mounts_.end() || before->second != id) changed.push_back(rel);
  }
  for (const auto& [rel, id] : mounts_) {
    if (!now.count(rel)) changed.push_back(rel);
  }
  mounts_ = std::move(now);
  std::sort(changed.begin(), changed.end());
  std::string done;  // the last folder watched anew: what lies below it was too
  bool any = false;
  for (const std::string& rel : changed) {
    if (any && isSameOrBelow(rel, done)) continue;
    const size_t slash = rel.rfind('/');
    // A folder below one that is not watched (unreadable, or not reached
    // yet) is watched, if ever, with that one.
    if (!isWatchedFolder(slash == std::string::npos ? std::string() : rel.substr(0, slash)))
      continue;
    dropTree(rel);
    const size_t missed = missed_.size();
    if (auto ec = addFolder(rel)) return ec;
    if (missed_.size() == missed && isWatchedFolder(rel)) {
      std::vector<DirChange> unreported;
      if (auto ec = addTree(rel, false, unreported)) return ec;
    }
    out.push_back({DirChange::Kind::Remounted, rel});
    done = rel;
    any = true;
  }
  return {};
}

DirWatchWaiter::~DirWatchWaiter() {
  if (eventFd_ >= 0) ::close(eventFd_);
  if (mountsFd_ >= 0) ::close(mountsFd_);
}

std::error_code DirWatchWaiter::open() {
  eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (eventFd_ < 0) return errnoCode(errno);
  // The kernel marks the open table with POLLPRI once a mount is made or
  // removed in this process's mount namespace. Without it (no /proc) mounts
  // below a tree are found by the engine's periodic scan only.
  mountsFd_ = ::open(kMountTable, O_RDONLY | O_CLOEXEC);
  return {};
}

void DirWatchWaiter::wake() noexcept {
  const uint64_t one = 1;
  // A full counter already wakes the waiter; nothing else can go wrong here.
  [[maybe_unused]] ssize_t written = ::write(eventFd_, &one, sizeof one);
}

std::error_code DirWatchWaiter::wait(const std::vector<DirWatch*>& watches,
                                     std::vector<size_t>& ready, bool& woken, int timeoutMillis) {
  ready.clear();
  woken = false;
  mountsChanged_ = false;
  std::vector<pollfd> fds;
  fds.reserve(watches.size() + 2);
  fds.push_back({eventFd_, POLLIN, 0});
  for (const DirWatch* watch : watches) fds.push_back({watch->fd_, POLLIN, 0});
  // Last, so that the indexes above stay those of `watches`. The table
  // always reads as readable; only its POLLPRI (with POLLERR) is a change,
  // and the poll that reports it also clears it.
  if (mountsFd_ >= 0) fds.push_back({mountsFd_, POLLPRI, 0});
  const size_t watchEnd = 1 + watches.size();
  int count;
  do {
    count = ::poll(fds.data(), fds.size(), timeoutMillis);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return errnoCode(errno);
  if (fds[0].revents) {
    uint64_t value;
    [[maybe_unused]] ssize_t got = ::read(eventFd_, &value, sizeof value);
    woken = true;
  }
  for (size_t i = 1; i < watchEnd; ++i) {
    if (fds[i].revents) ready.push_back(i - 1);
  }
  if (fds.size() > watchEnd && (fds[watchEnd].revents & POLLPRI)) mountsChanged_ = true;
  return {};
}

}  // namespace platform
