#include "IndexRepair.h"

#include <cstring>
#include <vector>

#include "ChunkTasks.h"
#include "Digest.h"
#include "Log.h"
#include "MetaApi.h"
#include "SyncFilter.h"
#include "TransferCodes.h"
#include "TransferGroup.h"
#include "platform/files.h"

namespace varnelo::sync {
namespace {

// A chunk's own callback: no progress display, stops with the worker.
class RepairCallback final : public IoCallback {
 public:
  explicit RepairCallback(const std::atomic<bool>& stop) : stop_(stop) {}
  void start(uint64_t) override {}
  bool isStopping() override { return stop_.load(); }
  void progress(uint64_t, int64_t) override {}
  bool verifyConflict() override { return false; }

 private:
  const std::atomic<bool>& stop_;
};

// The service names the file; it must stay below the sync folder.
bool isSafeServerPath(const std::string& path) {
  if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return path.rfind("home/", 0) == 0 || path.rfind("/home/", 0) == 0;
}

}  // namespace

void IndexRepair::start(const varnelo_credentials* credentials, std::string localRoot,
                        uint32_t chunkSize, uint32_t timeoutMs) {
  if (thread_.joinable()) return;
  credentials_ = credentials;
  localRoot_ = std::move(localRoot);
  chunkSize_ = chunkSize;
  timeoutMs_ = timeoutMs;
  stop_ = false;
  repaired_ = 0;
  thread_ = std::thread([this] { work(); });
}

void IndexRepair::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  credentials_ = nullptr;
  localRoot_.clear();
  stop_ = false;
}

void IndexRepair::work() {
  varnelo_meta_info_record info{};
  std::vector<http::DirtyChunk> left;
  const int rc = http::meta_info_dirty(credentials_, &info, left);
  if (rc != codes::kOk) {
    log_write(kLogError, kModuleSync, "index repair: info request failed:[%d]", rc);
    return;
  }
  log_write(kLogInfo, kModuleSync, "index repair: %zu chunk(s) to send again", left.size());
  for (int pass = 0; pass < kPassLimit && !left.empty(); ++pass) {
    std::vector<http::DirtyChunk> next;
    for (const http::DirtyChunk& chunk : left) {
      if (stop_) return;
      const int result = repairChunk(chunk.path, chunk.index, chunk.key, chunk.size, chunk.url);
      if (result == codes::kStopped) return;
      if (result != codes::kOk && result != codes::kNotFound) next.push_back(chunk);
    }
    left = std::move(next);
  }
  if (!left.empty()) {
    log_write(kLogError, kModuleSync, "index repair: %zu chunk(s) still missing", left.size());
  }
}

int IndexRepair::repairChunk(const std::string& serverPath, int64_t index, const uint8_t* key,
                             int64_t size, const std::string& url) {
  if (!isSafeServerPath(serverPath) || index < 0 || size <= 0 || size > chunkSize_ ||
      chunkSize_ == 0) {
    log_write(kLogError, kModuleSync, "index repair: refused entry for [%s]", serverPath.c_str());
    return codes::kNotFound;
  }
  const std::string local = SyncFilter::localPathOfServerFolder(localRoot_, serverPath);
  const uint64_t offset = static_cast<uint64_t>(index) * chunkSize_;
  platform::files::EntryInfo info;
  std::string bytes;
  if (platform::files::stat(local, info) ||
      platform::files::readRange(local, offset, static_cast<size_t>(size), bytes) ||
      bytes.size() != static_cast<size_t>(size)) {
    return codes::kNotFound;
  }
  const ChunkKey digest = sha1Of(bytes.data(), bytes.size());
  if (std::memcmp(digest.data(), key, digest.size()) != 0) return codes::kNotFound;

  RepairCallback callback(stop_);
  TransferGroup group;
  group.callback = &callback;
  group.timeoutMs = timeoutMs_;
  group.lastWrite = info.lastWrite;
  ChunkKey chunkKey;
  std::memcpy(chunkKey.data(), key, chunkKey.size());
  UploadChunkTask task(group, chunkKey);
  task.path = local;
  task.offset = offset;
  task.length = static_cast<uint32_t>(size);
  task.url = url;
  group.addPending();
  task.run();
  group.wait();
  if (task.result() == codes::kOk) {
    ++repaired_;
    log_write(kLogInfo, kModuleSync, "index repair: sent chunk %lld of [%s]",
              static_cast<long long>(index), serverPath.c_str());
  }
  return task.result();
}

}  // namespace varnelo::sync
