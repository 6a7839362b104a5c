// The HTTP transport under every request of the client and of the chunk
// transfers: one POST, GET or PUT per call over libcurl, with the connection
// settings read from the environment at the start of each transfer.
//
// Each thread keeps one long-lived easy handle that is reset between
// transfers, so its connections stay open for the next request to the same
// host; DNS cache and TLS sessions are shared process-wide (ShareHandle.h).
// All functions are thread safe and block the calling thread. A transfer
// started from inside another transfer's callback on the same thread gets a
// handle of its own.
//
// Example (a chunk download writing into its own sink):
//   struct FileSink : varnelo::http::Sink { size_t write(const char* p, size_t n) override; };
//   FileSink body; varnelo::http::StringSink headers;
//   int rc = varnelo::http::http_get(url, nullptr, 30000, offset, length, body, headers);
//   int status = rc == 0 ? varnelo::http::parse_http_status(headers.bytes) : rc;
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace varnelo::http {

// Receives the reply bytes of a transfer, block by block. The return value
// is what libcurl is told was taken; anything but `size` aborts the transfer
// with CURLE_WRITE_ERROR. The transport's own sinks always take everything.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual size_t write(const char* data, size_t size) = 0;
};

// Appends every block to a growable buffer (reply bodies, raw header lines).
// A reply that grows past `limit` (by default kMaxBytes, far beyond any
// listing the service sends) is refused, which ends the transfer
// (CURLE_WRITE_ERROR), rather than held in memory until there is none left.
class StringSink final : public Sink {
 public:
  static constexpr size_t kMaxBytes = size_t{256} << 20;
  explicit StringSink(size_t limit = kMaxBytes) : limit_(limit) {}
  size_t write(const char* data, size_t size) override;
  std::string bytes;

 private:
  size_t limit_;
};

// The block a PUT sends: `length` bytes, from memory (`data`) or, when
// `source` is set, read from it straight into libcurl's upload buffer (a
// chunk of a file goes from the page cache to the socket with no copy of
// its own). `source(position, out, size)` fills `out` with the bytes at
// `position` and returns how many it wrote; fewer than asked for (a file
// cut short meanwhile) clears `ok` and aborts the transfer. The read callback
// advances `position`. When `isStopping` answers true the callback hands out
// nothing more, clears `ok` and aborts the transfer. `onSent` (optional) is
// told how many bytes each read handed to libcurl, for progress reports.
struct PutBlock {
  const uint8_t* data = nullptr;
  std::function<size_t(size_t position, char* out, size_t size)> source;
  size_t length = 0;
  size_t position = 0;
  bool ok = true;
  std::function<bool()> isStopping;
  std::function<void(size_t)> onSent;
};

// Size of libcurl's receive buffer for GETs and of its upload buffer for
// PUTs: large blocks mean few calls into the sinks and few writes to disk.
// Each thread's transfer holds one such buffer, so memory stays bounded by
// the number of transfer threads.
inline constexpr long kTransferBufferBytes = 512 * 1024;

// Header list: NULL-terminated array of complete header lines
// ("Name: value"), owned by the caller; may itself be NULL.
using HeaderList = const char* const*;

// Lets another thread end a transfer at once (a long wait for the service's
// change notifications when the sync stops). Once cancelled it stays so:
// every later transfer under it ends before it starts. Thread safe.
class CancelSignal {
 public:
  CancelSignal() = default;
  CancelSignal(const CancelSignal&) = delete;
  CancelSignal& operator=(const CancelSignal&) = delete;
  void cancel();
  bool cancelled() const { return cancelled_.load(); }

 private:
  friend class CancelScope;
  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;       // guards multi_ against the transfer's set-up and teardown
  void* multi_ = nullptr;  // the CURLM* of the transfer running under the signal
};

// POST `body` (no speed limit, no low-speed abort). Returns the CURLcode;
// the status comes from parse_http_status over the header bytes. With
// `cancel`, a cancel() ends the transfer with CURLE_ABORTED_BY_CALLBACK.
int http_post(const std::string& url, const void* body, size_t bodyLength, HeaderList headers,
              long timeoutMs, Sink& bodySink, Sink& headerSink, CancelSignal* cancel = nullptr);

// GET, with a Range of offset..offset+length-1 when length > 0. Speed limits
// from the environment apply; aborts below 512 bytes/s for 300 s. A
// connectTimeoutMs above 0 bounds the connection's set-up on its own
// (otherwise only timeoutMs does).
int http_get(const std::string& url, HeaderList headers, long timeoutMs, uint64_t offset,
             uint64_t length, Sink& bodySink, Sink& headerSink, long connectTimeoutMs = 0);

// PUT the block from its current position. Speed limits and low-speed abort
// as for http_get.
int http_put(const std::string& url, PutBlock& data, HeaderList headers, long timeoutMs,
             Sink& bodySink, Sink& headerSink);

// The URL without its query, for log lines: queries may carry a password
// (quick sign-in) or signatures.
std::string url_for_log(const std::string& url);

// Facts about the calling thread's last finished transfer (tests, bench).
struct TransferInfo {
  long newConnections = 0;  // connections opened for it (0 = an open one was reused)
};
TransferInfo last_transfer_info();

// Process-wide switch for benchmarks: false makes every transfer use a fresh
// easy handle (and so a fresh connection), as if nothing were kept.
void set_connection_reuse(bool enabled);

// Drops the calling thread's kept handle and its connections.
void release_thread_handle();

}  // namespace varnelo::http
