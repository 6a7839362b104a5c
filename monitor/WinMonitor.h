// WinMonitor: the local change monitor. It keeps the folders to watch and
// the exclude patterns, runs one directory watcher over them, and turns the
// watcher's callbacks into the four IMonitorEvent events (plus the rescan
// notice after a watch had to be restarted). The engine owns it and drives
// it through IMonitor.
//
// Thread safety: IMonitor operations serialise on the monitor lock and may
// come from any thread; events reach the sink on the dispatch thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CDirectoryChangeHandler.h"
#include "CDirectoryChangeWatcher.h"
#include "varnelo/IMonitor.h"

namespace varnelo {

class WinMonitor final : public IMonitor, public monitor::CDirectoryChangeHandler {
 public:
  // What every watch reports: file and folder names, sizes, write and
  // creation times.
  static constexpr uint32_t kChangeFilter = 0x5B;

  WinMonitor();

  void release() override;
  int32_t start() override;
  int32_t stop() override;
  int32_t addDirectory(const char* path) override;
  int32_t removeDirectory(const char* path) override;
  int32_t removeAllDirectories() override;
  int32_t setExcludes(const char* const* patterns, uint32_t count) override;
  int32_t setEventSink(IMonitorEvent* sink) override;

  void NotifyAdded(const std::string& path) override;
  void NotifyRemoved(const std::string& path) override;
  void NotifyModified(const std::string& path) override;
  void NotifyRenamed(const std::string& oldPath, const std::string& newPath) override;
  void NotifyReadError(std::error_code error, const std::string& directory) override;
  void NotifyRemounted(const std::string& path) override;

  // For tests and diagnostics.
  monitor::CDirectoryChangeWatcher& watcher() { return watcher_; }

 private:
  ~WinMonitor() override;
  void watch(const std::string& directory);
  bool isRegistered(const std::string& directory) const;

  monitor::CDirectoryChangeWatcher watcher_;
  // The monitor lock: serialises the IMonitor operations that change what is
  // watched. Taken before the watcher's lock; never taken on the dispatch
  // thread, so a stop made under it cannot wait on itself.
  std::recursive_mutex lock_;
  std::atomic<IMonitorEvent*> sink_{nullptr};
  std::atomic<bool> started_{false};
  // Guards directories_ and excludes_, which the dispatch thread reads to
  // restart a watch after a read error. Held only briefly, never while
  // waiting.
  mutable std::mutex dataMutex_;
  std::vector<std::string> directories_;  // registration order; duplicates stay
  std::string excludes_;                  // the patterns joined by ";"
};

}  // namespace varnelo
