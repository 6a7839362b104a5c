#include "CDirectoryChangeWatcher.h"

#include <algorithm>
#include <deque>
#include <thread>

#include "CDelayedDirectoryChangeHandler.h"
#include "CDelayedNotificationThread.h"
#include "FilterOptions.h"
#include "Log.h"
#include "platform/files.h"
#include "platform/sync_primitives.h"

namespace varnelo::monitor {
namespace {

constexpr const char* kModule = "monitor";

std::string fullPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace

struct CDirectoryChangeWatcher::WatchRecord {
  std::string directory;
  CDirectoryChangeHandler* realHandler =
      nullptr;  // for matching only; the delayed handler owns the reference
  CDelayedDirectoryChangeHandler* delayed = nullptr;  // counted reference
  // Opened by StartWatch, then read only by the worker until it acknowledges
  // the stop; after that the stopping thread closes it.
  platform::DirWatch dirWatch;
  platform::Event stopAcknowledged{platform::Event::Reset::Manual};
};

struct CDirectoryChangeWatcher::Worker {
  enum class Command { Add, Remove, Quit };
  struct Control {
    Command command;
    WatchRecord* record;
  };

  void send(Command command, WatchRecord* record) {
    {
      std::lock_guard lock(controlMutex);
      controls.push_back({command, record});
    }
    waiter.wake();
  }

  platform::DirWatchWaiter waiter;
  std::mutex controlMutex;  // guards controls
  std::deque<Control> controls;
  std::thread thread;
};

// Marks an operation as under way for Shutdown.
class CDirectoryChangeWatcher::BusyScope {
 public:
  explicit BusyScope(CDirectoryChangeWatcher& watcher) : watcher_(watcher) {
    std::lock_guard lock(watcher_.mutex_);
    ++watcher_.busy_;
  }
  ~BusyScope() {
    // Notified under the lock: once Shutdown sees 0 the watcher may go.
    std::lock_guard lock(watcher_.mutex_);
    if (--watcher_.busy_ == 0) watcher_.idle_.notify_all();
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  CDirectoryChangeWatcher& watcher_;
};

CDirectoryChangeWatcher::CDirectoryChangeWatcher(uint32_t filterOptions)
    : filterOptions_(normalizedFilterOptions(filterOptions)) {}

CDirectoryChangeWatcher::~CDirectoryChangeWatcher() {
  Shutdown();
}

void CDirectoryChangeWatcher::Shutdown() {
  for (;;) {
    StopAllWatches();
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return busy_ == 0; });
    // An operation that ended meanwhile may have started a watch.
    if (!worker_) return;
  }
}

uint32_t CDirectoryChangeWatcher::SetFilterOptions(uint32_t filterOptions) {
  std::lock_guard lock(mutex_);
  const uint32_t previous = filterOptions_;
  filterOptions_ = normalizedFilterOptions(filterOptions);
  return previous;
}

bool CDirectoryChangeWatcher::IsWatched(const std::string& directory) const {
  std::lock_guard lock(mutex_);
  for (const WatchRecord* record : records_) {
    if (record && record->directory == directory) return true;
  }
  return false;
}

bool CDirectoryChangeWatcher::InjectFault(const std::string& directory,
                                          platform::DirWatchFault fault) {
  std::lock_guard lock(mutex_);
  for (WatchRecord* record : records_) {
    if (record && record->directory == directory) {
      record->dirWatch.injectFault(fault);
      if (worker_) worker_->waiter.wake();
      return true;
    }
  }
  return false;
}

std::error_code CDirectoryChangeWatcher::StartWatch(const std::string& directory,
                                                    uint32_t changeFilter,
                                                    CDirectoryChangeHandler* handler,
                                                    bool watchSubtree, const char* includePatterns,
                                                    const char* excludePatterns) {
  BusyScope busy(*this);
  if (directory.empty() || changeFilter == 0 || !handler) {
    log_write(kLogError, kModule, "watch refused: empty path, no filter or no handler");
    return std::make_error_code(std::errc::invalid_argument);
  }
  // An existing watch of the path goes first, even when the path is no
  // longer a folder (a watch that ended because its folder went away).
  StopWatch(directory);
  if (!platform::files::isDirectory(directory)) {
    log_write(kLogWarning, kModule, "watch refused, not a folder:[%s]", directory.c_str());
    return std::make_error_code(std::errc::not_a_directory);
  }

  auto record = std::make_unique<WatchRecord>();
  record->directory = directory;
  if (std::error_code ec = record->dirWatch.open(directory, changeFilter, watchSubtree)) {
    log_write(kLogError, kModule, "watch of [%s] failed:%d %s", directory.c_str(), ec.value(),
              ec.message().c_str());
    log_location();
    return ec;
  }
  // A handler serves one watcher: take it over from another one first.
  if (CDirectoryChangeWatcher* other = handler->attachTo(this)) {
    other->StopWatchesOf(handler);
    if (handler->attachTo(this)) {
      log_write(kLogError, kModule, "watch of [%s] refused: handler busy elsewhere",
                directory.c_str());
      return std::make_error_code(std::errc::device_or_resource_busy);
    }
  }

  uint32_t options;
  {
    std::lock_guard lock(mutex_);
    options = filterOptions_;
  }
  record->realHandler = handler;
  record->delayed = new CDelayedDirectoryChangeHandler(
      handler, std::make_unique<CDelayedNotificationThread>(),
      includePatterns ? includePatterns : "", excludePatterns ? excludePatterns : "", options);
  record->delayed->SetPartialPathOffset(directory);

  std::vector<WatchRecord*> replaced;
  {
    std::lock_guard lock(mutex_);
    if (!worker_) {
      auto worker = std::make_unique<Worker>();
      std::error_code ec = worker->waiter.open();
      if (!ec) {
        try {
          worker->thread = std::thread(&CDirectoryChangeWatcher::runWorker, this, worker.get());
        } catch (const std::system_error& e) {
          ec = e.code();
        }
      }
      if (ec) {
        log_write(kLogError, kModule, "watch worker could not start:%d %s", ec.value(),
                  ec.message().c_str());
        log_location();
        destroyRecord(record.release());
        return ec;
      }
      worker_ = std::move(worker);
    }
    // Another thread may have watched the same folder meanwhile.
    replaced = takeOutLocked(
        [](const WatchRecord& r, const void* key) {
          return r.directory == *static_cast<const std::string*>(key);
        },
        &directory);
    WatchRecord* added = record.release();
    bool placed = false;
    for (WatchRecord*& slot : records_) {
      if (!slot) {
        slot = added;
        placed = true;
        break;
      }
    }
    if (!placed) records_.push_back(added);
    worker_->send(Worker::Command::Add, added);
  }
  for (WatchRecord* old : replaced) stopRecord(old);
  return {};
}

// Takes every matching record out of the list and tells the worker to drop
// it; the caller then stops each one without holding the lock.
std::vector<CDirectoryChangeWatcher::WatchRecord*> CDirectoryChangeWatcher::takeOutLocked(
    RecordMatch match, const void* key) {
  std::vector<WatchRecord*> taken;
  for (WatchRecord*& slot : records_) {
    if (slot && match(*slot, key)) {
      taken.push_back(slot);
      worker_->send(Worker::Command::Remove, slot);
      slot = nullptr;
    }
  }
  return taken;
}

void CDirectoryChangeWatcher::stopRecord(WatchRecord* record) {
  record->stopAcknowledged.wait();  // the worker never waits for anyone
  record->delayed->NotifyWatchStopped(record->directory);
  destroyRecord(record);
}

void CDirectoryChangeWatcher::destroyRecord(WatchRecord* record) {
  if (CDirectoryChangeHandler* real = record->delayed->TakeOutRealHandler()) {
    real->detachFrom(this);
    real->Release();
  }
  record->dirWatch.close();
  // Notifications still queued keep the delayed handler alive; they are
  // dropped at dispatch now that it has no real handler.
  record->delayed->Release();
  delete record;
}

bool CDirectoryChangeWatcher::stopMatching(RecordMatch match, const void* key) {
  BusyScope busy(*this);
  bool any = false;
  // A receiver may start the same watch again while it is being stopped
  // (after a read error); go round until none is left.
  for (;;) {
    std::vector<WatchRecord*> taken;
    {
      std::lock_guard lock(mutex_);
      if (!worker_) break;
      taken = takeOutLocked(match, key);
    }
    if (taken.empty()) break;
    any = true;
    for (WatchRecord* record : taken) stopRecord(record);
  }
  return any;
}

bool CDirectoryChangeWatcher::StopWatch(const std::string& directory) {
  return stopMatching(
      [](const WatchRecord& r, const void* key) {
        return r.directory == *static_cast<const std::string*>(key);
      },
      &directory);
}

bool CDirectoryChangeWatcher::StopWatchesOf(CDirectoryChangeHandler* handler) {
  return stopMatching([](const WatchRecord& r, const void* key) { return r.realHandler == key; },
                      handler);
}

bool CDirectoryChangeWatcher::StopAllWatches() {
  BusyScope busy(*this);
  bool hadWorker = false;
  for (;;) {
    std::vector<WatchRecord*> taken;
    std::unique_ptr<Worker> ending;
    {
      std::lock_guard lock(mutex_);
      if (!worker_) break;
      hadWorker = true;
      taken = takeOutLocked([](const WatchRecord&, const void*) { return true; }, nullptr);
      if (taken.empty()) {
        worker_->send(Worker::Command::Quit, nullptr);
        ending = std::move(worker_);
        records_.clear();
      }
    }
    for (WatchRecord* record : taken) stopRecord(record);
    if (ending) {
      ending->thread.join();
      break;
    }
  }
  return hadWorker;
}

void CDirectoryChangeWatcher::readChanges(WatchRecord& record,
                                          std::vector<platform::DirChange>& changes) {
  using Kind = platform::DirChange::Kind;
  CDelayedDirectoryChangeHandler& delayed = *record.delayed;
  for (size_t i = 0; i < changes.size(); ++i) {
    const auto& change = changes[i];
    switch (change.kind) {
      case Kind::Added:
        delayed.NotifyAdded(fullPath(record.directory, change.name));
        break;
      case Kind::Removed:
        delayed.NotifyRemoved(fullPath(record.directory, change.name));
        break;
      case Kind::Modified:
        delayed.NotifyModified(fullPath(record.directory, change.name));
        break;
      case Kind::OldName:
        if (i + 1 < changes.size() && changes[i + 1].kind == Kind::NewName) {
          delayed.NotifyRenamed(fullPath(record.directory, change.name),
                                fullPath(record.directory, changes[i + 1].name));
          ++i;
        }
        break;
      case Kind::NewName:  // never without its old name
        break;
      case Kind::Remounted:
        delayed.NotifyRemounted(fullPath(record.directory, change.name));
        break;
    }
  }
}

void CDirectoryChangeWatcher::runWorker(Worker* worker) {
  OnWorkerStart();
  std::vector<WatchRecord*> active;
  std::vector<platform::DirWatch*> watches;
  std::vector<size_t> ready;
  std::vector<platform::DirChange> changes;
  bool quit = false;
  while (!quit) {
    watches.clear();
    for (WatchRecord* record : active) watches.push_back(&record->dirWatch);
    bool woken = false;
    if (std::error_code ec = worker->waiter.wait(watches, ready, woken)) {
      log_write(kLogError, kModule, "waiting for changes failed:%d %s", ec.value(),
                ec.message().c_str());
    }
    std::vector<WatchRecord*> failed;
    auto ended = [&](WatchRecord* record, std::error_code ec) {
      // The watch ends here; the receiver learns of it on the dispatch
      // thread and decides whether to watch again. The record stays listed
      // until someone stops it, so its notifications keep their receiver.
      log_write(kLogWarning, kModule, "watch of [%s] ended, changes may be lost:%d %s",
                record->directory.c_str(), ec.value(), ec.message().c_str());
      record->dirWatch.close();
      record->delayed->NotifyReadError(ec, record->directory);
      failed.push_back(record);
    };
    for (size_t index : ready) {
      WatchRecord* record = active[index];
      changes.clear();
      const std::error_code ec = record->dirWatch.read(changes);
      readChanges(*record, changes);
      if (ec) ended(record, ec);
    }
    // After the records read above, so that what happened on a folder
    // before its mount changed is reported before the remount.
    if (worker->waiter.mountsChanged()) {
      for (WatchRecord* record : active) {
        if (std::find(failed.begin(), failed.end(), record) != failed.end()) continue;
        changes.clear();
        const std::error_code ec = record->dirWatch.checkMounts(changes);
        readChanges(*record, changes);
        if (ec) ended(record, ec);
      }
    }
    for (WatchRecord* record : failed) std::erase(active, record);
    // Also check the controls when `woken` is false: the wake may have been
    // consumed by an earlier round that found them all.
    std::deque<Worker::Control> controls;
    {
      std::lock_guard lock(worker->controlMutex);
      controls.swap(worker->controls);
    }
    for (const auto& control : controls) {
      switch (control.command) {
        case Worker::Command::Add:
          active.push_back(control.record);
          control.record->delayed->NotifyWatchStarted({}, control.record->directory);
          break;
        case Worker::Command::Remove:
          std::erase(active, control.record);
          control.record->stopAcknowledged.set();
          break;
        case Worker::Command::Quit:
          quit = true;
          break;
      }
    }
  }
  OnWorkerExit();
}

}  // namespace varnelo::monitor
