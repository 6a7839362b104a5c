#include "WinMonitor.h"

#include <algorithm>

#include "FilterOptions.h"
#include "Log.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varnelo {
namespace {

constexpr const char* kModule = "monitor";
constexpr int32_t kOk = 200;
constexpr int32_t kNullArgument = 499;
constexpr int32_t kNotADirectory = -101;
constexpr int32_t kBadText = -4;

}  // namespace

WinMonitor::WinMonitor() {
  watcher_.SetFilterOptions(monitor::WF_RELATIVE_PATH);
}

WinMonitor::~WinMonitor() {
  stop();
}

void WinMonitor::release() {
  stop();
  delete this;
}

void WinMonitor::watch(const std::string& directory) {
  std::string excludes;
  {
    std::lock_guard lock(dataMutex_);
    excludes = excludes_;
  }
  // A folder that cannot be watched stays registered; the next start tries
  // again. The watcher has logged why.
  watcher_.StartWatch(directory, kChangeFilter, this, true, nullptr, excludes.c_str());
}

bool WinMonitor::isRegistered(const std::string& directory) const {
  std::lock_guard lock(dataMutex_);
  return std::find(directories_.begin(), directories_.end(), directory) != directories_.end();
}

int32_t WinMonitor::start() {
  std::lock_guard lock(lock_);
  std::vector<std::string> directories;
  {
    std::lock_guard data(dataMutex_);
    directories = directories_;
  }
  started_ = true;
  for (const auto& directory : directories) watch(directory);
  return kOk;
}

int32_t WinMonitor::stop() {
  // Cleared first, so that a watch ending meanwhile is not restarted.
  started_ = false;
  watcher_.StopAllWatches();
  return kOk;
}

int32_t WinMonitor::addDirectory(const char* path) {
  if (!path) return kNullArgument;
  if (!platform::isValidUtf8(path)) {
    log_write(kLogError, kModule, "folder to watch is not valid UTF-8");
    return kBadText;
  }
  const std::string directory = path;
  if (!platform::files::isDirectory(directory)) {
    log_write(kLogWarning, kModule, "not a folder, not watched:[%s]", path);
    return kNotADirectory;
  }
  std::lock_guard lock(lock_);
  {
    std::lock_guard data(dataMutex_);
    directories_.push_back(directory);
  }
  if (started_) watch(directory);
  return kOk;
}

int32_t WinMonitor::removeDirectory(const char* path) {
  if (!path) return kNullArgument;
  const std::string directory = path;
  std::lock_guard lock(lock_);
  // Unregistered before the stop, so that a read error being handled now
  // does not bring the watch back.
  {
    std::lock_guard data(dataMutex_);
    std::erase(directories_, directory);
  }
  if (started_ && watcher_.IsWatched(directory)) watcher_.StopWatch(directory);
  return kOk;
}

int32_t WinMonitor::removeAllDirectories() {
  std::lock_guard lock(lock_);
  {
    std::lock_guard data(dataMutex_);
    directories_.clear();
  }
  if (started_) watcher_.StopAllWatches();  // stays started: new folders are watched at once
  return kOk;
}

int32_t WinMonitor::setExcludes(const char* const* patterns, uint32_t count) {
  if (!patterns && count > 0) return kNullArgument;
  std::string joined;
  for (uint32_t i = 0; i < count; ++i) {
    if (!patterns[i]) return kNullArgument;
    if (!platform::isValidUtf8(patterns[i])) {
      log_write(kLogError, kModule, "exclude pattern %u is not valid UTF-8", i);
      return kBadText;
    }
    std::string pattern = patterns[i];
    // Patterns are written with "\" between path components; paths here use "/".
    std::replace(pattern.begin(), pattern.end(), '\\', '/');
    if (i > 0) joined += ';';
    joined += pattern;
  }
  std::lock_guard lock(lock_);
  {
    std::lock_guard data(dataMutex_);
    if (joined == excludes_) return kOk;
    excludes_ = std::move(joined);
  }
  if (started_) {
    stop();
    start();
  }
  return kOk;
}

int32_t WinMonitor::setEventSink(IMonitorEvent* sink) {
  sink_ = sink;
  return kOk;
}

namespace {

// File names are bytes on this platform; one that is not UTF-8 cannot be
// reported (or synchronised), so its event is dropped.
bool reportable(const std::string& path) {
  if (platform::isValidUtf8(path)) return true;
  log_write(kLogWarning, kModule, "change to a path that is not valid UTF-8 dropped");
  return false;
}

}  // namespace

void WinMonitor::NotifyAdded(const std::string& path) {
  IMonitorEvent* sink = sink_;
  if (reportable(path) && sink) sink->onPathAdded(path.c_str());
}

void WinMonitor::NotifyRemoved(const std::string& path) {
  IMonitorEvent* sink = sink_;
  if (reportable(path) && sink) sink->onPathRemoved(path.c_str());
}

void WinMonitor::NotifyModified(const std::string& path) {
  IMonitorEvent* sink = sink_;
  if (reportable(path) && sink) sink->onPathModified(path.c_str());
}

void WinMonitor::NotifyRenamed(const std::string& oldPath, const std::string& newPath) {
  IMonitorEvent* sink = sink_;
  if (reportable(oldPath) && reportable(newPath) && sink) {
    sink->onPathRenamed(oldPath.c_str(), newPath.c_str());
  }
}

void WinMonitor::NotifyRemounted(const std::string& path) {
  // Whatever the folder holds now was never reported: the receiver scans it.
  log_write(kLogInfo, kModule, "mount on [%s] changed, watched anew", path.c_str());
  IMonitorEvent* sink = sink_;
  if (sink && reportable(path)) sink->onRescanNeeded(path.c_str());
}

void WinMonitor::NotifyReadError(std::error_code error, const std::string& directory) {
  // Runs on the dispatch thread without the monitor lock: an operation
  // holding it may be waiting for this very dispatch.
  if (!started_ || !isRegistered(directory)) return;
  log_write(kLogWarning, kModule, "watching [%s] again after read error:%d %s", directory.c_str(),
            error.value(), error.message().c_str());
  watch(directory);
  // Whatever happened while the watch was down is unknown: ask for a scan.
  IMonitorEvent* sink = sink_;
  if (sink && reportable(directory)) sink->onRescanNeeded(directory.c_str());
}

}  // namespace varnelo
