// The process-wide libcurl share: DNS cache and TLS sessions shared by every
// easy handle of every thread. Created on first use; CURL_RESHARE_HANDLE=true
// (a one-shot signal the application writes after proxy changes) makes the
// next request replace it. Thread safe: current_share() may be called from
// any thread; a replaced share lives until the last handle using it lets go.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace varnelo::http {

class Share {
 public:
  Share();
  ~Share();
  Share(const Share&) = delete;
  Share& operator=(const Share&) = delete;

  CURLSH* get() const { return share_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void unlock(CURL*, curl_lock_data data, void* self);

  CURLSH* share_ = nullptr;
  // One lock per kind of shared data (libcurl asks for them by curl_lock_data),
  // so DNS look-ups and TLS session reuse do not wait for each other.
  std::mutex locks_[CURL_LOCK_DATA_LAST];
};

// The share to attach to the next transfer. Consumes CURL_RESHARE_HANDLE:
// when it is "true" the variable is cleared and a new share replaces the old.
std::shared_ptr<Share> current_share();

}  // namespace varnelo::http
