#include "IoDownload.h"

#include <cinttypes>
#include <cstring>
#include <memory>
#include <new>

#include "ChunkKeys.h"
#include "ChunkTasks.h"
#include "IoChannel.h"
#include "KeyList.h"
#include "Log.h"
#include "MetaApi.h"
#include "TransferCodes.h"

namespace varnelo {

namespace {

// 2^22 chunks: 16 TiB at the service's 4 MiB chunks; 80 MiB of keys.
constexpr uint64_t kMaxChunks = uint64_t{1} << 22;

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

}  // namespace

std::optional<platform::FileTime> parseEditTime(const char* text) {
  if (!text || !*text) return std::nullopt;
  platform::FileTime value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  return value;
}

int DownloadFile::fetchChunks(platform::File& temp, const std::string& dataUrl) {
  SyncSettings& settings = context_.settings();
  // The file's own chunk size: a file stored before the service changed its
  // chunk size keeps the size it was cut with.
  uint32_t fileChunkSize = 0;
  if (http::key_list_chunk_size(dataUrl, fileChunkSize) != codes::kOk) {
    log_write(kLogError, kModuleSync, "data address without a chunk size:[%s]",
              job_.remotePath.c_str());
    return codes::kOtherFailure;
  }
  const uint64_t chunkSize = fileChunkSize;
  job_.chunkSize = fileChunkSize;
  const uint64_t count = chunkCountOf(job_.remoteSize, chunkSize);
  // The size comes from the service: a count beyond any real file is refused
  // before anything is allocated for it.
  if (count == 0 || count > kMaxChunks) {
    log_write(kLogError, kModuleSync, "remote size of [%s] out of range: %llu chunks",
              job_.remotePath.c_str(), static_cast<unsigned long long>(count));
    return codes::kOtherFailure;
  }
  std::vector<uint8_t> buffer;
  TransferGroup group;
  group.callback = &callback_;
  group.timeoutMs = settings.requestTimeoutMs;
  group.attempts = settings.attempts;
  group.chunkSize = chunkSize;
  group.cache = context_.chunkCache();
  std::vector<std::unique_ptr<DownloadChunkTask>> tasks;
  try {
    std::vector<uint8_t> raw(count * 20);
    int rc = http::decode_key_list(dataUrl, static_cast<uint32_t>(chunkSize),
                                   static_cast<int32_t>(count), raw.data());
    if (rc != codes::kOk) {
      log_write(kLogError, kModuleSync, "decode_key_list return code:[%d]", rc);
      return rc;
    }
    job_.keys.resize(count);
    std::memcpy(job_.keys.data(), raw.data(), raw.size());

    // What an interrupted download already wrote is kept: a chunk whose
    // bytes already hash to its key is not fetched again.
    uint64_t have = 0;
    temp.size(have);
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t offset = i * chunkSize;
      const uint64_t length = chunkLengthOf(i, job_.remoteSize, chunkSize);
      if (offset + length <= have && !context_.isStopping()) {
        buffer.resize(length);
        size_t got = 0;
        if (!temp.readAt(offset, buffer.data(), length, got) && got == length &&
            sha1Of(buffer.data(), got) == job_.keys[i]) {
          callback_.progress(0, static_cast<int64_t>(length));
          continue;
        }
      }
      tasks.push_back(
          std::make_unique<DownloadChunkTask>(group, job_.keys[i], temp, offset, length, dataUrl));
    }
  } catch (const std::bad_alloc&) {
    // Nothing is posted yet: the file fails and the pass goes on.
    log_write(kLogError, kModuleSync, "out of memory preparing the download of:[%s]",
              job_.remotePath.c_str());
    job_.keys.clear();
    return codes::kOtherFailure;
  }
  std::vector<uint8_t>().swap(buffer);
  mthread::OperationArena arena;
  auto& channel = mthread::IoChannel::instance();
  for (auto& task : tasks) {
    if (chunks_ == Chunks::OnThisThread) {
      group.addPending();
      task->run();
      continue;
    }
    channel.setThreadCount(settings.ioThreads);
    group.addPending();
    if (channel.post(arena, task.get(), &mthread::runTask<DownloadChunkTask>) !=
        mthread::Channel::kPosted) {
      group.taskFinished(false);
    }
  }
  group.wait();
  if (context_.isStopping()) return codes::kStopped;
  if (group.failures.load() == 0) return codes::kOk;
  for (auto& task : tasks) {
    if (task->result() != codes::kOk && task->result() != codes::kStopped) return task->result();
  }
  return codes::kStopped;
}

int DownloadFile::writeWhole(platform::File& temp, const uint8_t* data) {
  std::error_code ec = temp.truncate(0);
  if (!ec) ec = temp.writeAt(0, data, job_.remoteSize);
  if (ec) {
    log_write(kLogError, kModuleSync, "writing the part file failed: %s", ec.message().c_str());
    return codes::kLocalFailure;
  }
  job_.keys.assign(1, sha1Of(data, job_.remoteSize));
  job_.chunkSize = context_.settings().chunkSize;
  if (job_.remoteSize > job_.chunkSize) job_.keys.clear();
  callback_.progress(platform::currentFileTime(), static_cast<int64_t>(job_.remoteSize));
  return codes::kOk;
}

int DownloadFile::writeListed(platform::File& temp) {
  // The listing's version, size and time describe these very bytes (one
  // reply), so there is nothing to ask the service.
  if (job_.content.size() != job_.remoteSize) return codes::kOtherFailure;
  callback_.start(job_.remoteSize);
  const int rc = writeWhole(temp, job_.content.data());
  job_.content.release();
  return rc;
}

int DownloadFile::run(platform::File& temp) {
  if (!job_.content.empty()) return writeListed(temp);
  GetResult remote;
  int rc = http::meta_get(context_.credentials(), job_.remotePath, &remote.p, nullptr, false, 0);
  if (rc != codes::kOk) {
    log_write(kLogError, kModuleSync, "varnelo_meta_get return code:[%d]", rc);
    log_location();
    return rc;
  }
  const varnelo_meta_entry& entry = remote.p->entry;
  if (std::memcmp(entry.ver, job_.expected.data(), job_.expected.size()) != 0)
    return codes::kVersionChanged;
  if (!(entry.type & 1) || entry.fileSize < 0) return codes::kOtherFailure;
  job_.remoteSize = static_cast<uint64_t>(entry.fileSize);
  job_.remoteTime = parseEditTime(entry.editTime);
  callback_.start(job_.remoteSize);

  uint64_t have = 0;
  if (temp.size(have)) return codes::kLocalFailure;
  if (have > job_.remoteSize && temp.truncate(0)) return codes::kLocalFailure;

  if (job_.remoteSize == 0) {
    job_.keys.clear();
    return context_.isStopping() ? codes::kCancelled : codes::kOk;
  }
  if (remote.p->data) {
    if (remote.p->dataLength < 0 || static_cast<uint64_t>(remote.p->dataLength) != job_.remoteSize)
      return codes::kOtherFailure;
    return writeWhole(temp, remote.p->data);
  }
  if (remote.p->dataurl) return fetchChunks(temp, remote.p->dataurl);
  return codes::kOtherFailure;
}

}  // namespace varnelo
