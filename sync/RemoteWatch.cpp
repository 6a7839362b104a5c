#include "RemoteWatch.h"

#include <algorithm>
#include <chrono>

#include "Log.h"
#include "MetaApi.h"
#include "TransferCodes.h"
#include "platform/time.h"

namespace varnelo::sync {

void RemoteWatch::start(const varnelo_credentials* credentials, std::string cursor, int waitSeconds,
                        OnChange onChange) {
  if (thread_.joinable()) return;
  credentials_ = credentials;
  cursor_ = std::move(cursor);
  waitSeconds_ = std::clamp(waitSeconds, 1, kMaxWaitSeconds);
  onChange_ = std::move(onChange);
  cancel_ = std::make_unique<http::CancelSignal>();
  {
    std::lock_guard lock(mutex_);
    stopping_ = false;
  }
  thread_ = std::thread(&RemoteWatch::work, this);
}

void RemoteWatch::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  cancel_->cancel();
  thread_.join();
  // The thread's own handle (and its connection) went with it.
}

bool RemoteWatch::pause(uint32_t ms) {
  std::unique_lock lock(mutex_);
  return !stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void RemoteWatch::work() {
  log_write(kLogInfo, kModuleSync, "waiting for remote changes (%d s per request)", waitSeconds_);
  uint32_t backoff = 0;
  while (!cancel_->cancelled()) {
    const uint64_t started = platform::monotonicMillis();
    bool changed = false;
    std::string next;
    const int rc =
        http::meta_wait_change(credentials_, cursor_, waitSeconds_, cancel_.get(), &changed, &next);
    if (cancel_->cancelled()) break;
    if (rc == codes::kOk) {
      backoff = 0;
      cursor_ = std::move(next);
      if (changed) {
        ++changes_;
        onChange_();
      }
    } else if (rc == 404) {
      // A service that no longer has the endpoint: the poll alone is left.
      log_write(kLogWarning, kModuleSync,
                "the service answers no change notifications; polling only");
      break;
    } else {
      backoff = backoff == 0 ? kFirstBackoffMs : std::min(backoff * 2, kMaxBackoffMs);
      log_write(kLogWarning, kModuleSync,
                "waiting for remote changes failed:[%d], polling meanwhile; next wait in %u ms", rc,
                backoff);
      if (!pause(backoff)) break;
      continue;
    }
    // A service answering at once, again and again, is not asked in a loop.
    const uint64_t took = platform::monotonicMillis() - started;
    if (took < kMinSpacingMs && !pause(static_cast<uint32_t>(kMinSpacingMs - took))) break;
  }
  http::release_thread_handle();
}

}  // namespace varnelo::sync
