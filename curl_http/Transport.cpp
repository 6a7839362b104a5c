#include "Transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ConnectionSettings.h"
#include "Log.h"
#include "ShareHandle.h"
#include "varnelo/account.h"

namespace varnelo::http {
namespace {

constexpr long kLowSpeedLimit = 512;  // bytes/s
constexpr long kLowSpeedTime = 300;   // s
constexpr long kDnsCacheTimeout = 300;

std::atomic<bool> g_reuse{true};

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

// The calling thread's kept handle. The handle is declared after the share
// it is attached to, so it is cleaned up (and detaches) first.
struct ThreadHandle {
  std::shared_ptr<Share> share;
  Easy easy;
  bool busy = false;
  TransferInfo last;
};

thread_local ThreadHandle t_handle;

// One transfer's hold on an easy handle: the thread's kept one when it is
// free and reuse is on, otherwise a fresh one that dies with the lease.
class HandleLease {
 public:
  HandleLease() {
    kept_ = g_reuse.load() && !t_handle.busy;
    if (kept_) {
      if (!t_handle.easy) t_handle.easy.reset(curl_easy_init());
      handle_ = t_handle.easy.get();
      t_handle.busy = handle_ != nullptr;
    } else {
      own_.reset(curl_easy_init());
      handle_ = own_.get();
    }
    if (handle_ == nullptr) return;
    // Attached afresh for every transfer, so a replaced share is picked up
    // here and a reset handle takes the share's DNS cache and TLS session
    // limits again. The lease keeps a reference: a share is never cleaned up
    // while a handle is attached to it.
    std::shared_ptr<Share> share = current_share();
    curl_easy_setopt(handle_, CURLOPT_SHARE, share->get());
    (kept_ ? t_handle.share : ownShare_) = std::move(share);
  }
  ~HandleLease() {
    if (handle_ == nullptr) return;
    long connects = 0;
    curl_easy_getinfo(handle_, CURLINFO_NUM_CONNECTS, &connects);
    t_handle.last.newConnections = connects;
    if (kept_) {
      // Forget this transfer's options (and the pointers into its header list
      // and buffers); connections, DNS and TLS caches and the share stay.
      curl_easy_reset(handle_);
      t_handle.busy = false;
    } else {
      own_.reset();  // detaches from the share before the reference goes
    }
  }
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;

  CURL* get() const { return handle_; }

 private:
  bool kept_ = false;
  CURL* handle_ = nullptr;
  std::shared_ptr<Share> ownShare_;  // declared before own_: outlives it
  Easy own_;
};

}  // namespace

size_t StringSink::write(const char* data, size_t size) {
  if (size > limit_ - std::min(limit_, bytes.size())) {
    log_write(kLogError, kModuleVarnelo, "a reply of more than %zu bytes was refused", limit_);
    return 0;
  }
  bytes.append(data, size);
  return size;
}

namespace {

size_t sink_callback(char* data, size_t size, size_t count, void* user) {
  try {
    return static_cast<Sink*>(user)->write(data, size * count);
  } catch (...) {
    return 0;  // out of memory: abort the transfer rather than throw through libcurl
  }
}

size_t put_read_callback(char* buffer, size_t size, size_t count, void* user) {
  auto* block = static_cast<PutBlock*>(user);
  try {
    if (block->isStopping && block->isStopping()) {
      block->ok = false;
      return CURL_READFUNC_ABORT;
    }
    size_t remaining = block->length > block->position ? block->length - block->position : 0;
    size_t n = std::min(remaining, size * count);
    if (n > 0 && block->source) {
      if (block->source(block->position, buffer, n) != n) {
        block->ok = false;  // the source ended early: never send a short body
        return CURL_READFUNC_ABORT;
      }
    } else if (n > 0) {
      std::memcpy(buffer, block->data + block->position, n);
    }
    block->position += n;
    if (n > 0 && block->onSent) block->onSent(n);
    return n;
  } catch (...) {
    block->ok = false;  // a throwing hook must not unwind through libcurl
    return CURL_READFUNC_ABORT;
  }
}

Slist copy_headers(HeaderList headers) {
  Slist list;
  for (HeaderList h = headers; h != nullptr && *h != nullptr; ++h) {
    curl_slist* grown = curl_slist_append(list.get(), *h);
    if (grown == nullptr) break;
    list.release();
    list.reset(grown);
  }
  return list;
}

enum class Method { Post, Get, Put };

struct Request {
  Method method;
  const std::string& url;
  HeaderList headers;
  long timeoutMs;
  Sink& body;
  Sink& header;
  CancelSignal* cancel = nullptr;
};

}  // namespace

// Runs one transfer on a multi handle of its own that the signal can wake:
// curl_multi_wakeup is the one call libcurl allows from another thread.
class CancelScope {
 public:
  static CURLcode perform(CURL* easy, CancelSignal& signal) {
    struct MultiDeleter {
      void operator()(CURLM* m) const { curl_multi_cleanup(m); }
    };
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi) return CURLE_OUT_OF_MEMORY;
    {
      std::lock_guard lock(signal.mutex_);
      if (signal.cancelled_) return CURLE_ABORTED_BY_CALLBACK;
      signal.multi_ = multi.get();
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
    } else {
      int running = 1;
      while (!signal.cancelled_) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK || running == 0) break;
        if (curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK) break;
      }
      int left = 0;
      if (!signal.cancelled_) {
        result = CURLE_RECV_ERROR;  // the loop broke on a multi failure
        while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
          if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) result = msg->data.result;
        }
      }
      curl_multi_remove_handle(multi.get(), easy);
    }
    std::lock_guard lock(signal.mutex_);
    signal.multi_ = nullptr;
    return result;
  }
};

void CancelSignal::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (multi_ != nullptr) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

namespace {

// Runs one transfer: common options, the method's own options (set by
// `configure`), perform, and a log line for a failure.
template <typename Configure>
int perform(const Request& r, Configure&& configure) {
  HandleLease lease;
  CURL* h = lease.get();
  if (h == nullptr) {
    log_write(kLogError, kModuleVarnelo, "curl_easy_init failed");
    return CURLE_FAILED_INIT;
  }
  bool limited = r.method != Method::Post;
  ConnectionSettings settings =
      compute_connection_settings(r.url, limited, system_proxy_resolver());
  Slist headers = copy_headers(r.headers);

  curl_easy_setopt(h, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(h, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheTimeout);
  apply_connection_settings(h, settings);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for timeouts
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, r.timeoutMs);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &sink_callback);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &sink_callback);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &r.header);
  if (limited) {
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedLimit);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kLowSpeedTime);
  }
  configure(h);

  CURLcode rc = r.cancel != nullptr ? CancelScope::perform(h, *r.cancel) : curl_easy_perform(h);
  if (rc != CURLE_OK)
    log_write(kLogWarning, kModuleVarnelo, "request [%s] failed: curl code %d (%s)",
              url_for_log(r.url).c_str(), static_cast<int>(rc), curl_easy_strerror(rc));
  return static_cast<int>(rc);
}

}  // namespace

int http_post(const std::string& url, const void* body, size_t bodyLength, HeaderList headers,
              long timeoutMs, Sink& bodySink, Sink& headerSink, CancelSignal* cancel) {
  return perform(
      {Method::Post, url, headers, timeoutMs, bodySink, headerSink, cancel}, [&](CURL* h) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body != nullptr ? body : "");
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodyLength));
      });
}

int http_get(const std::string& url, HeaderList headers, long timeoutMs, uint64_t offset,
             uint64_t length, Sink& bodySink, Sink& headerSink, long connectTimeoutMs) {
  char range[128];
  if (length > 0)
    std::snprintf(range, sizeof range, "%" PRIu64 "-%" PRIu64, offset, offset + length - 1);
  return perform({Method::Get, url, headers, timeoutMs, bodySink, headerSink}, [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kTransferBufferBytes);
    if (length > 0) curl_easy_setopt(h, CURLOPT_RANGE, range);
    // The handle is reset between transfers, so this lasts for this one.
    if (connectTimeoutMs > 0) curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
  });
}

int http_put(const std::string& url, PutBlock& data, HeaderList headers, long timeoutMs,
             Sink& bodySink, Sink& headerSink) {
  return perform({Method::Put, url, headers, timeoutMs, bodySink, headerSink}, [&](CURL* h) {
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);  // PUT
    curl_off_t size = data.length > data.position ? data.length - data.position : 0;
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, size);
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, kTransferBufferBytes);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &put_read_callback);
    curl_easy_setopt(h, CURLOPT_READDATA, &data);
  });
}

std::string url_for_log(const std::string& url) {
  return url.substr(0, url.find('?'));
}

TransferInfo last_transfer_info() {
  return t_handle.last;
}

void set_connection_reuse(bool enabled) {
  g_reuse.store(enabled);
}

void release_thread_handle() {
  if (t_handle.busy) return;
  t_handle.easy.reset();
  t_handle.share.reset();
}

}  // namespace varnelo::http

extern "C" {

int32_t varnelo_init(void) {
  return static_cast<int32_t>(curl_global_init(CURL_GLOBAL_ALL));
}

int32_t varnelo_term(void) {
  varnelo::http::release_thread_handle();
  curl_global_cleanup();
  return 0;
}
}
