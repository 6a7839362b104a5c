#include "ChunkKeys.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "TransferCodes.h"
#include "platform/file.h"
#include "platform/files.h"

namespace varnelo {

namespace {

// Bytes read and hashed per read call; also each hashing thread's buffer.
// Small enough to stay in the core's cache between the copy out of the page
// cache and the hash. Read and hashed in 1 MiB blocks, a cached 256 MiB file
// took 0.31 s on the 2-core benchmark machine; in blocks of 16 to 128 KiB
// 0.19 s, and from 256 KiB up again 0.28 to 0.34 s.
constexpr uint64_t kReadSize = 64 << 10;
// Hashing threads of one file at most: SHA-1 runs near a core's speed of
// reading from the page cache, so more than a few cores only add buffers.
constexpr unsigned kMaxThreads = 4;

// One pass over the chunks of a file shared by the threads that hash it:
// each takes the next chunk not yet taken, reads it through its own buffer
// and its own descriptor, and stores its key at the chunk's index. Chunks
// are claimed in file order, so the reads of all threads together still
// move forward through the file.
class KeyPass {
 public:
  KeyPass(const std::string& path, uint64_t fileSize, uint64_t chunkSize,
          std::vector<ChunkKey>& keys, const std::function<bool()>& stopping)
      : path_(path),
        fileSize_(fileSize),
        chunkSize_(chunkSize),
        count_(chunkCountOf(fileSize, chunkSize)),
        keys_(keys),
        stopping_(stopping) {}

  uint64_t count() const { return count_; }

  // Hashes chunks until none is left or the pass failed; run by every
  // thread of the pass, the caller's included.
  void work() {
    platform::File file;
    if (file.open(path_, platform::File::Mode::Read)) {
      fail(codes::kLocalFailure);
      return;
    }
    // Sized to the file as well: a buffer of a full read block for a file of
    // a few kilobytes cost more to allocate and clear than hashing the file.
    const size_t bufferSize =
        static_cast<size_t>(std::min({kReadSize, chunkSize_, std::max<uint64_t>(fileSize_, 1)}));
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]);
    Sha1 sha;
    for (;;) {
      const uint64_t index = next_.fetch_add(1);
      if (index >= count_) return;
      uint64_t offset = index * chunkSize_;
      const uint64_t end = offset + chunkLengthOf(index, fileSize_, chunkSize_);
      sha.reset();
      while (offset < end) {
        if (failed_.load()) return;
        if (askStopping()) {
          fail(codes::kStopped);
          return;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(bufferSize, end - offset));
        size_t got = 0;
        if (file.readAt(offset, buffer.get(), want, got) || got != want) {
          fail(codes::kLocalFailure);
          return;
        }
        sha.update(buffer.get(), got);
        offset += got;
      }
      keys_[index] = sha.finish();
    }
  }

  // kOk, or the reason the pass ended early (a stop wins over a read error:
  // the read may have failed only because the engine is going away).
  int result() const {
    std::lock_guard lock(mutex_);
    return result_;
  }

 private:
  // The caller's check runs before every read, never on two threads at once.
  bool askStopping() {
    if (!stopping_) return false;
    std::lock_guard lock(mutex_);
    return stopping_();
  }

  void fail(int code) {
    std::lock_guard lock(mutex_);
    if (result_ != codes::kStopped) result_ = code;
    failed_.store(true);
  }

  const std::string& path_;
  const uint64_t fileSize_;
  const uint64_t chunkSize_;
  const uint64_t count_;
  std::vector<ChunkKey>& keys_;  // one slot per chunk, each written by one thread
  const std::function<bool()>& stopping_;

  std::atomic<uint64_t> next_{0};  // the next chunk to claim
  std::atomic<bool> failed_{false};
  mutable std::mutex mutex_;  // guards result_ and calls of stopping_
  int result_ = codes::kOk;
};

unsigned hashingThreads(uint64_t chunks) {
  if (chunks <= 1) return 1;
  // Read once: the C library reads the count from /sys at every call.
  static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<unsigned>(std::min<uint64_t>({cores, kMaxThreads, chunks}));
}

}  // namespace

int computeChunkKeys(const std::string& path, uint64_t fileSize, uint64_t chunkSize,
                     std::vector<ChunkKey>& keys, const std::function<bool()>& stopping) {
  keys.clear();
  if (chunkSize == 0) return codes::kLocalFailure;
  KeyPass pass(path, fileSize, chunkSize, keys, stopping);
  keys.resize(pass.count());
  if (pass.count() == 0) {
    // Nothing to hash, but a file that cannot be opened is still refused.
    platform::File file;
    if (file.open(path, platform::File::Mode::Read)) return codes::kLocalFailure;
    return codes::kOk;
  }
  // A file of several chunks is hashed on several cores; the calling thread
  // takes part, and every helper is joined before the keys are looked at.
  std::vector<std::thread> helpers;
  const unsigned threads = hashingThreads(pass.count());
  for (unsigned i = 1; i < threads; ++i) {
    try {
      helpers.emplace_back([&pass] { pass.work(); });
    } catch (const std::system_error&) {
      break;  // no thread to be had: fewer threads do the same work
    }
  }
  pass.work();
  for (auto& t : helpers) t.join();
  const int rc = pass.result();
  if (rc != codes::kOk) keys.clear();
  return rc;
}

int computeVersionKeys(const std::string& path, uint64_t fileSize, uint64_t lastWrite,
                       uint64_t chunkSize, std::vector<ChunkKey>& keys,
                       const std::function<bool()>& stopping) {
  const int rc = computeChunkKeys(path, fileSize, chunkSize, keys, stopping);
  if (rc != codes::kOk && rc != codes::kLocalFailure) return rc;
  // Also after a short read: a file cut short meanwhile has changed, and is
  // tried again rather than reported as unreadable.
  platform::files::EntryInfo now;
  if (platform::files::stat(path, now)) return codes::kLocalFailure;
  if (now.size != fileSize || now.lastWrite != lastWrite) {
    keys.clear();
    return codes::kFileChanged;
  }
  return rc;
}

}  // namespace varnelo
