// IMonitorEvent: the receiver of the local change monitor's events (the file
// syncer implements it). Every call arrives on the monitor's one dispatch
// thread, in the order the file system reported the changes; a receiver
// that shares state with other threads guards it itself.
#pragma once

namespace varnelo {

class IMonitorEvent {
 public:
  // Every path is a full local path (the watched folder, "/", then the name
  // below it), NUL-terminated UTF-8, valid only during the call.
  virtual void onPathAdded(const char* path) = 0;
  virtual void onPathModified(const char* path) = 0;
  virtual void onPathRemoved(const char* path) = 0;
  virtual void onPathRenamed(const char* oldPath, const char* newPath) = 0;
  // Events below `directory` were lost and the receiver should scan that
  // folder to catch up. Optional. Either a watched folder (the kernel's event
  // queue overflowed; the watch has been restarted) or a folder below one on
  // which a file system was mounted or from which one was unmounted (now
  // watched as it is: what it holds was never reported).
  virtual void onRescanNeeded(const char* directory) { (void)directory; }

 protected:
  ~IMonitorEvent() = default;
};

}  // namespace varnelo
