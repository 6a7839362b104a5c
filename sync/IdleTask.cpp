#include "IdleTask.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "DeletionBatch.h"
#include "DeletionHold.h"
#include "DeletionRestore.h"
#include "Download.h"
#include "LocalScan.h"
#include "Log.h"
#include "RemoteRemoval.h"
#include "SyncFilter.h"
#include "TransferCodes.h"
#include "Upload.h"
#include "platform/files.h"
#include "platform/time.h"
#include "varnelo/IVarnelo.h"

namespace varnelo::sync {
namespace {

// Unsigned tick difference: "more than `interval` since `last`", with 0 as
// "never", which is always due.
bool due(uint64_t now, uint64_t last, uint32_t interval) {
  return last == 0 || now - last > interval;
}

// Milliseconds from `now` until due(now + result, last, interval) holds.
uint64_t untilDue(uint64_t now, uint64_t last, uint32_t interval) {
  if (due(now, last, interval)) return 0;
  return interval - (now - last) + 1;
}

}  // namespace

IdleTask::IdleTask(Context& context, Intervals intervals, WatchProbe probe)
    : context_(context),
      intervals_(intervals),
      probe_(std::move(probe)),
      // A failure in the first minutes waits for the retry interval too.
      lastRetryTick_(platform::monotonicMillis()),
      uploads_(context, context.settings().filesInFlight) {
  context_.updating().setWaker(&wake_);
  context_.setSmallUploads(&uploads_);
}

IdleTask::~IdleTask() {
  context_.setSmallUploads(nullptr);
  context_.updating().setWaker(nullptr);
}

void IdleTask::resumed(bool recheckAll) {
  rescanLocal_ = true;
  lastRemoteTick_ = 0;
  lastRetryTick_ = 0;
  if (recheckAll) {
    recheckAll_ = true;
    recheckDeadline_ = 0;
  }
  wake_.set();
}

void IdleTask::remoteChanged() {
  const uint64_t now = std::max<uint64_t>(platform::monotonicMillis(), 1);
  uint64_t none = 0;
  firstRemoteChange_.compare_exchange_strong(none, now);
  lastRemoteChange_ = now;
  remoteChanged_ = true;
  wake_.set();
}

uint64_t IdleTask::untilRemoteSettled(uint64_t now) const {
  const uint64_t first = firstRemoteChange_, last = lastRemoteChange_;
  // A first tick of 0 with the flag set: the change came as a pass cleared
  // the burst, which is due at once.
  if (first == 0 || now - first >= kRemoteGatherMs || now - last >= kRemoteQuietMs) return 0;
  return std::min<uint64_t>(kRemoteGatherMs - (now - first), kRemoteQuietMs - (now - last));
}

void IdleTask::run() {
  while (!stopping_) {
    // What is set from here on wakes the next sleep; this pass may consume
    // it already, which costs one empty pass at most.
    wake_.reset();
    busy_ = true;
    pass();
    holdsPending_ = !context_.remoteHolds().empty();
    busy_ = false;
    if (stopping_) break;
    wake_.waitFor(std::chrono::milliseconds(sleepMs(platform::monotonicMillis())));
  }
}

void IdleTask::gather() {
  // Only deletions need the whole burst: an edit or a new file is sent now,
  // and what follows it wakes the next pass. A path the filter keeps out is
  // no deletion the engine sends (a download's part file renamed into place
  // looks gone), and a path renamed to another synced name took its content
  // along, queued with it: neither costs a wait.
  const sync::SyncFilter& filter = context_.filter();
  if (!context_.updating().anyNotRenamedAway([&filter](const std::string& path) {
        return !platform::files::exists(path) && filter.accept(path);
      }))
    return;
  const uint64_t start = platform::monotonicMillis();
  while (!stopping_ && !context_.isPaused()) {
    const uint64_t waited = platform::monotonicMillis() - start;
    if (waited >= kGatherMs) break;
    const uint64_t wait = std::min<uint64_t>(kQuietMs, kGatherMs - waited);
    if (!wake_.waitFor(std::chrono::milliseconds(wait))) break;  // quiet
  }
}

uint32_t IdleTask::sleepMs(uint64_t now) const {
  uint64_t sleep = kMaxSleepMs;
  // While paused only a resume or a stop (both wake the loop) makes work.
  if (context_.isPaused()) return static_cast<uint32_t>(sleep);
  // A missing or replaced sync folder is only looked at again, once per
  // poll interval; nothing else runs meanwhile.
  if (!rootHeld_) {
    sleep = std::min(sleep, untilDue(now, lastRootCheck_, intervals_.remotePollMs));
    return static_cast<uint32_t>(std::max<uint64_t>(sleep, 1));
  }
  if (rescanLocal_) return 0;
  if (context_.mode() & kSyncRemoteChanges) {
    sleep = std::min(sleep, untilDue(now, lastRemoteTick_, intervals_.remotePollMs));
    if (remoteChanged_) sleep = std::min(sleep, untilRemoteSettled(now));
  }
  if ((context_.mode() & kSyncLocalChanges) && !context_.retry().empty()) {
    sleep = std::min(sleep, untilDue(now, lastRetryTick_, intervals_.retryMs));
  }
  if (intervals_.localScanMs && lastLocalScan_) {
    sleep = std::min(sleep, untilDue(now, lastLocalScan_, intervals_.localScanMs));
  }
  if (unwatched_) sleep = std::min(sleep, untilDue(now, lastWatchCheck_, intervals_.remotePollMs));
  // Every deadline above is moved on by the pass that meets it; the floor
  // keeps a clock that stands still from turning this into a busy loop.
  return static_cast<uint32_t>(std::max<uint64_t>(sleep, 1));
}

void IdleTask::pass() {
  if (context_.isPaused()) return;
  const uint64_t now = platform::monotonicMillis();
  if (!rootHolds(now)) return;
  if (sync::DeletionHold* hold = context_.deletions(); hold && hold->restorePending())
    keepHeldDeletions();
  checkWatch(now);
  if (!rescanLocal_ && ((intervals_.localScanMs && lastLocalScan_ &&
                         now - lastLocalScan_ > intervals_.localScanMs) ||
                        context_.takeLocalScanRequest())) {
    rescanLocal_ = true;
    periodicScan_ = true;
  }
  const bool scanned = rescanLocal_;
  if (scanned) scanLocal(now);
  if ((context_.mode() & kSyncLocalChanges) && !context_.updating().empty()) uploadQueued(scanned);
  // What the scan found gone has been weighed by now.
  if (scanned && !context_.isPaused()) {
    if (sync::DeletionHold* hold = context_.deletions())
      hold->settle(sync::DeletionHold::Side::Local);
  }
  if ((context_.mode() & kSyncLocalChanges) && !context_.retry().empty() &&
      due(now, lastRetryTick_, intervals_.retryMs)) {
    flushRetries(now);
  }
  // Every small file still in flight is completed (journal row, report)
  // before anything else runs, also when a pause cut the hand-over short.
  uploads_.drain();
  if ((context_.mode() & kSyncRemoteChanges) && !context_.isPaused() &&
      ((remoteChanged_ && untilRemoteSettled(now) == 0) ||
       due(now, lastRemoteTick_, intervals_.remotePollMs))) {
    remotePass(now);
  }
}

void IdleTask::keepHeldDeletions() {
  const std::vector<DeletionHold::Held> kept = context_.deletions()->takeRestoring();
  const size_t failed = restoreHeldDeletions(context_, kept);
  if (failed > 0) context_.reportResult(codes::kLocalFailure, "");
  log_write(kLogInfo, kModuleSync, "held deletions kept: %zu entries brought back, %zu failed",
            kept.size() - failed, failed);
  rescanLocal_ = true;
  lastRemoteTick_ = 0;
}

void IdleTask::scanLocal(uint64_t now) {
  // Cleared before the walk, so that a notice arriving during it is kept.
  rescanLocal_ = false;
  lastLocalScan_ = now ? now : 1;
  // A periodic scan only adds: what is queued stays queued.
  if (!periodicScan_) context_.updating().clear();
  periodicScan_ = false;
  // What the local side held is weighed again from what this scan finds.
  if (sync::DeletionHold* hold = context_.deletions())
    hold->restart(sync::DeletionHold::Side::Local);
  const int rc = uploader::syncLocalFiles(context_);
  if (context_.rootCheck() != codes::kOk) {
    // Unmounted during the walk: what it queued describes an empty folder.
    context_.updating().clear();
    rescanLocal_ = true;
    return;
  }
  if (rc == codes::kOk) {
    ++localScans_;
  } else if (rc == codes::kStopped) {
    rescanLocal_ = true;  // interrupted by a pause; the resume scans anyway
  }
}

void IdleTask::uploadQueued(bool afterScan) {
  // The rests of batches set aside, the latest last: a new folder queues
  // its entries as it goes up, and taking those before its siblings walks a
  // large new tree depth first, so the queue never holds all its files.
  std::vector<std::vector<std::string>> setAside;
  for (bool first = true; !context_.isPaused(); first = false) {
    // What a scan just queued is the folder as one walk found it, whole;
    // every later batch is gathered, so that a deletion that starts while
    // the pass sends earlier changes is weighed whole as well.
    if (!(first && afterScan)) gather();
    if (stopping_) break;
    std::unordered_map<std::string, std::string> renamedAway;
    std::vector<std::string> batch = context_.updating().takeAll(&renamedAway);
    if (batch.empty() && !setAside.empty()) {
      batch = std::move(setAside.back());  // weighed when it was taken
      setAside.pop_back();
    } else if (batch.empty()) {
      break;
    } else {
      // The deletions among them are weighed together: too many are held.
      holdLargeLocalDeletions(context_, batch, renamedAway);
    }
    for (size_t i = 0; i < batch.size(); ++i) {
      if (context_.isPaused()) {
        // What was not handed over stays queued.
        for (; i < batch.size(); ++i) context_.updating().add(batch[i]);
        for (auto rest = setAside.rbegin(); rest != setAside.rend(); ++rest)
          for (const std::string& path : *rest) context_.updating().add(path);
        return;
      }
      log_write(kLogInfo, kModuleSync, "fetch path from updating set:[%s], ", batch[i].c_str());
      uploader::prepareUploading(context_, batch[i]);
      // Handed over: a scan's batch is every path it found changed, and
      // what the rest of the pass needs grows meanwhile.
      std::string().swap(batch[i]);
      if (i + 1 < batch.size() && context_.updating().size() >= kQueuedBeforeDeeper) {
        setAside.emplace_back(std::make_move_iterator(batch.begin() + i + 1),
                              std::make_move_iterator(batch.end()));
        break;
      }
    }
  }
}

void IdleTask::flushRetries(uint64_t now) {
  for (const std::string& path : context_.retry().takeAll()) {
    // Paths of a flush cut short by a pause are dropped; the local scan after
    // the resume finds them again.
    if (context_.isPaused()) break;
    log_write(kLogInfo, kModuleSync, "fetch path from retry set:[%s], ", path.c_str());
    uploader::prepareUploading(context_, path);
  }
  lastRetryTick_ = now ? now : 1;
}

void IdleTask::remotePass(uint64_t now) {
  bool full = false;
  if (recheckAll_ && now > recheckDeadline_) {
    full = true;
    recheckAll_ = false;
  }
  // Cleared before the pass: a change reported while it lists the tree may
  // have come after the listing of its folder, so it brings another pass.
  // The flag goes first: a change reported in between keeps it set.
  remoteChanged_ = false;
  firstRemoteChange_ = 0;
  // Deletions that stopped half-way are finished first, so that the pass
  // does not take what they moved aside for new files.
  if (!context_.remoteHolds().empty()) uploader::finishRemoteHolds(context_);
  const int rc = downloader::syncDir(context_, full);
  if (rc == codes::kOk) ++remotePasses_;
  lastRemoteTick_ = platform::monotonicMillis();
}

bool IdleTask::rootHolds(uint64_t now) {
  if (!rootHeld_ && !due(now, lastRootCheck_, intervals_.remotePollMs)) return false;
  lastRootCheck_ = now ? now : 1;
  const int rc = context_.rootCheck();
  if (rc == codes::kOk) {
    if (!rootHeld_) {
      // Back (mounted again): whatever happened meanwhile is found by a scan.
      log_write(kLogInfo, kModuleSync, "sync folder available again:[%s]",
                context_.localRoot().c_str());
      rescanLocal_ = true;
      lastRemoteTick_ = 0;
    }
    rootHeld_ = true;
    rootCode_ = rc;
    return true;
  }
  if (rootHeld_ || rc != rootCode_) {
    log_write(kLogError, kModuleSync,
              "sync folder %s:[%s]; nothing is synced or deleted until it is back",
              rc == codes::kSyncRootMissing ? "missing" : "is not the one synced before",
              context_.localRoot().c_str());
    context_.reportResult(rc, context_.localRoot());
    // Changes seen while it went away describe the empty mount point.
    context_.updating().clear();
  }
  rootHeld_ = false;
  rootCode_ = rc;
  return false;
}

void IdleTask::checkWatch(uint64_t now) {
  if (!probe_) return;
  unwatched_ = !probe_();
  if (!unwatched_) {
    watchReported_ = false;
    return;
  }
  if (!watchReported_) {
    watchReported_ = true;
    log_write(kLogError, kModuleSync,
              "sync folder cannot be watched:[%s], scanning it every %u ms instead",
              context_.localRoot().c_str(), intervals_.remotePollMs);
    context_.reportResult(kEngineWatchUnavailable, context_.localRoot());
  }
  if (due(now, lastWatchCheck_, intervals_.remotePollMs)) {
    lastWatchCheck_ = now;
    rescanLocal_ = true;
  }
}

}  // namespace varnelo::sync
