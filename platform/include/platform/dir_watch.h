// Directory-change facility: DirWatch watches one folder tree through
// inotify (one kernel watch per folder, kept up to date as folders appear,
// vanish and move) and turns the kernel's events into added / removed /
// modified / old-name + new-name records; DirWatchWaiter blocks one thread
// on many DirWatch objects at once, and on the mount table. The directory
// watcher's worker thread (monitor/) is the one user.
//
// A file system mounted on a folder of the tree (or unmounted from it) is
// not seen by the folder's kernel watch, which stays on whatever it watched
// before. When the waiter says the mount table changed, checkMounts() moves
// the watches of such folders to what they show now and reports each one.
//
// Thread safety: a DirWatch is used by one thread at a time (it may be
// handed from the thread that opens it to the thread that reads it);
// injectFault() may be called from any thread. DirWatchWaiter::wake() may be
// called from any thread, wait() from one.
//
//   platform::DirWatch watch;
//   if (auto ec = watch.open("/home/u/Sync", platform::kWatchFileName | platform::kWatchDirName,
//                            true)) { ... }
//   std::vector<platform::DirChange> changes;
//   auto ec = watch.read(changes);  // after the waiter said the watch is ready
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace platform {

// What a watch reports (the bit values the rest of the system has always
// used for its change filter).
inline constexpr uint32_t kWatchFileName = 0x01;    // files created, deleted, renamed
inline constexpr uint32_t kWatchDirName = 0x02;     // folders created, deleted, renamed
inline constexpr uint32_t kWatchAttributes = 0x04;  // mode, owner, link count
inline constexpr uint32_t kWatchSize = 0x08;        // content written
inline constexpr uint32_t kWatchLastWrite = 0x10;   // content written, times set
inline constexpr uint32_t kWatchLastAccess = 0x20;  // content read
inline constexpr uint32_t kWatchCreation = 0x40;    // times set
inline constexpr uint32_t kWatchSecurity = 0x100;   // mode, owner

struct DirChange {
  // Remounted: a file system was mounted on the folder `name` or unmounted
  // from it; what it holds now was never reported, nor what changed in it
  // while the watch was elsewhere.
  enum class Kind : uint8_t {
    Added = 1,
    Removed = 2,
    Modified = 3,
    OldName = 4,
    NewName = 5,
    Remounted = 6,
  };
  Kind kind;
  // Relative to the watched folder, "/"-separated; the bytes the file system
  // holds (not necessarily valid UTF-8).
  std::string name;
};

// Faults a test can make the next read or folder watch run into, since the
// kernel's limits (fs.inotify.*) cannot be lowered without root.
enum class DirWatchFault : int {
  None = 0,
  QueueOverflow = 1,  // the next read meets a queue-overflow mark after its records
  WatchLimit = 2,     // the next folder watch fails as if max_user_watches were used up
};

class DirWatch {
 public:
  DirWatch() = default;
  ~DirWatch();
  DirWatch(const DirWatch&) = delete;
  DirWatch& operator=(const DirWatch&) = delete;

  // Watches `dir` and, with `subtree`, every folder below it (symbolic links
  // are never followed). `filter` is a set of kWatch* bits. Fails with the
  // error of the first folder that cannot be watched (ENOSPC when the
  // user's watch limit is reached); nothing stays open then.
  std::error_code open(const std::string& dir, uint32_t filter, bool subtree);
  void close() noexcept;
  bool isOpen() const noexcept { return fd_ >= 0; }
  const std::string& directory() const noexcept { return root_; }

  // Appends every record the kernel has queued, in the kernel's order; never
  // blocks except for a few milliseconds when a rename's old name is the last
  // event read (to find its new name). A rename inside the tree is an OldName
  // record followed at once by its NewName record; a move out of the tree is
  // Removed, a move in is Added. A folder that appears (created or moved in)
  // is watched at once, and everything found inside it is reported as Added,
  // parents first, so that nothing made before its watch existed is missed.
  //
  // Errors end the watch (close it): EOVERFLOW the kernel's queue overflowed
  // and events were lost; ENOSPC or ENOMEM a new folder could not be
  // watched; ENOENT the watched folder itself was deleted or moved away;
  // ENODEV its file system was unmounted. Records read before the error are
  // still appended.
  std::error_code read(std::vector<DirChange>& out);

  // After the mount table changed (DirWatchWaiter::mountsChanged): every
  // folder below the watched one whose mount is another than when it was
  // last looked at is watched anew, the folders below it included, and
  // appended as a Remounted record (outer folders only). Costs one read of
  // the mount table; nothing when no mount below the tree changed. Errors
  // end the watch as read() says.
  std::error_code checkMounts(std::vector<DirChange>& out);

  void injectFault(DirWatchFault fault) noexcept { fault_.store(static_cast<int>(fault)); }
  // Number of folders with a kernel watch (the tree's folders once open).
  size_t folderCount() const noexcept { return folders_.size(); }

 private:
  friend class DirWatchWaiter;
  struct RawEvent {
    int wd;
    uint32_t mask;
    uint32_t cookie;
    std::string name;
    std::chrono::steady_clock::time_point readAt;  // when it came from the kernel
  };

  std::error_code addFolder(const std::string& rel);
  std::error_code addTree(const std::string& rel, bool report, std::vector<DirChange>& out);
  void dropTree(const std::string& rel);
  // Renames the watched folders at and below `from`; false when `from`
  // itself was not watched.
  bool renameTree(const std::string& from, const std::string& to);
  void rememberMissed(const std::string& rel);
  // Forgets the remembered folders at and below `rel`, and returns them.
  std::vector<std::string> takeMissed(const std::string& rel);
  // Watches the folders at and below `rel` that could not be watched when
  // they appeared, and reports what they hold.
  std::error_code watchMissed(const std::string& rel, std::vector<DirChange>& out);
  // Watches the folder `rel`, whose attributes changed, when it is not
  // watched yet (it could not be read when it was reached) and can be now;
  // what it holds is then reported.
  std::error_code watchIfReadable(const std::string& rel, std::vector<DirChange>& out);
  std::string fullPath(const std::string& rel) const;
  bool fillPending(int waitMillis);
  size_t findMovedTo(size_t from, uint32_t cookie) const;
  std::error_code handle(size_t index, std::vector<DirChange>& out);
  bool reports(bool isDir, uint32_t mask) const;
  bool isWatchedFolder(const std::string& rel) const;

  int fd_ = -1;
  int rootWd_ = -1;
  std::string root_;
  uint32_t filter_ = 0;
  uint32_t mask_ = 0;  // inotify mask of every folder watch
  bool subtree_ = false;
  std::unordered_map<int, std::string> folders_;  // watch descriptor → relative path
  // Folders whose path led nowhere when they were to be watched: made and
  // then moved with a parent renamed before their creation was read. The
  // rename that follows says where they are now.
  std::vector<std::string> missed_;
  // Mount points strictly below the watched folder (relative path → mount
  // id) as the mount table listed them when last read.
  std::map<std::string, uint64_t> mounts_;
  std::vector<RawEvent> pending_;  // read from the kernel, not yet handled
  size_t next_ = 0;                // first unhandled entry of pending_
  std::vector<char> buffer_;
  std::atomic<int> fault_{0};
};

class DirWatchWaiter {
 public:
  DirWatchWaiter() = default;
  ~DirWatchWaiter();
  DirWatchWaiter(const DirWatchWaiter&) = delete;
  DirWatchWaiter& operator=(const DirWatchWaiter&) = delete;

  std::error_code open();
  // Makes the current or next wait() return with `woken` set. Thread safe.
  void wake() noexcept;
  // Blocks until one of `watches` has records to read, wake() was called, or
  // `timeoutMillis` passed (-1: no limit). `ready` receives the indexes of
  // the watches that have records; closed watches are skipped.
  // Also returns when the mount table changed; mountsChanged() says so
  // until the next wait.
  std::error_code wait(const std::vector<DirWatch*>& watches, std::vector<size_t>& ready,
                       bool& woken, int timeoutMillis = -1);
  bool mountsChanged() const noexcept { return mountsChanged_; }

 private:
  int eventFd_ = -1;
  int mountsFd_ = -1;  // the mount table, polled for its change notice; -1: not offered
  bool mountsChanged_ = false;
};

}  // namespace platform
