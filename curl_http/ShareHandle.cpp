#include "ShareHandle.h"

#include <cstdlib>

#include "Environment.h"
#include "Log.h"

namespace varnelo::http {

Share::Share() : share_(curl_share_init()) {
  if (share_ == nullptr) {
    log_write(kLogError, kModuleVarnelo, "curl_share_init failed");
    return;
  }
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Share::lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Share::unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

Share::~Share() {
  // Every handle that used this share has detached (they hold a reference).
  if (share_ != nullptr && curl_share_cleanup(share_) != CURLSHE_OK)
    log_write(kLogError, kModuleVarnelo, "curl_share_cleanup refused: share still in use");
}

void Share::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) static_cast<Share*>(self)->locks_[data].lock();
}

void Share::unlock(CURL*, curl_lock_data data, void* self) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) static_cast<Share*>(self)->locks_[data].unlock();
}

namespace {

struct ShareSlot {
  std::mutex mutex;  // guards `current` and the read-and-clear of CURL_RESHARE_HANDLE
  std::shared_ptr<Share> current;
};

ShareSlot& slot() {
  // Never destroyed: transfers on other threads may still run during exit.
  static ShareSlot* s = new ShareSlot;
  return *s;
}

}  // namespace

std::shared_ptr<Share> current_share() {
  ShareSlot& s = slot();
  std::lock_guard<std::mutex> lock(s.mutex);
  // Checked under the lock so the one-shot signal renews exactly once even
  // when several threads start requests at the same moment.
  bool renew = env_is("CURL_RESHARE_HANDLE", "true");
  if (renew) setenv("CURL_RESHARE_HANDLE", "", 1);
  if (!s.current || renew) s.current = std::make_shared<Share>();
  return s.current;
}

}  // namespace varnelo::http
