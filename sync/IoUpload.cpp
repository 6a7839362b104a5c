#include "IoUpload.h"

#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ChunkCache.h"
#include "ChunkKeys.h"
#include "ChunkTasks.h"
#include "CommitIntent.h"
#include "FileJournal.h"
#include "IoChannel.h"
#include "JournalRows.h"
#include "KeyList.h"
#include "Log.h"
#include "MetaApi.h"
#include "MimeTypes.h"
#include "OAuthHeader.h"
#include "PutBatchRequest.h"
#include "RemoteRemoval.h"
#include "TransferCodes.h"
#include "Upload.h"
#include "platform/file.h"
#include "platform/files.h"

namespace varnelo {

namespace {

std::string editTimeText(platform::FileTime t) {
  return std::to_string(t);
}

const uint8_t* baseBytes(const std::optional<Signature>& base) {
  return base ? base->data() : nullptr;
}

// Owns a result object of the metadata calls.
struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};
struct PrepareResult {
  varnelo_meta_prepare_result* p = nullptr;
  ~PrepareResult() { varnelo_meta_destroy_prepare_result(p); }
};

}  // namespace

// ---- callback ---------------------------------------------------------------

namespace uploader {

bool UploadFileCallback::verifyConflict() {
  GetResult remote;
  if (http::meta_get(context_.credentials(), job_.remotePath, &remote.p, nullptr, false, 0) !=
      codes::kOk) {
    return false;
  }
  const varnelo_meta_entry& e = remote.p->entry;
  if (!(e.type & 1) || e.fileSize < 0 || static_cast<uint64_t>(e.fileSize) != job_.fileSize)
    return false;
  bool same = false;
  if (remote.p->data) {
    // Inline content: compare the bytes themselves.
    std::string local;
    same = !platform::files::readFile(job_.localPath, local) &&
           local.size() == static_cast<size_t>(remote.p->dataLength) &&
           std::memcmp(local.data(), remote.p->data, local.size()) == 0;
  } else if (job_.fileSize == 0) {
    same = true;
  } else if (remote.p->dataurl) {
    const uint64_t chunkSize = context_.settings().chunkSize;
    const uint64_t count = chunkCountOf(job_.fileSize, chunkSize);
    if (count != job_.keys.size() || count > INT32_MAX) return false;
    std::vector<uint8_t> keys(count * 20);
    same = http::decode_key_list(remote.p->dataurl, static_cast<uint32_t>(chunkSize),
                                 static_cast<int32_t>(count), keys.data()) == codes::kOk &&
           std::memcmp(keys.data(), job_.keys.data(), keys.size()) == 0;
  }
  if (same) std::memcpy(entry.ver, e.ver, sizeof entry.ver);
  return same;
}

int UploadFileCallback::commit() {
  const std::string editTime = editTimeText(job_.lastWrite);
  const std::string mime = MimeTypes::system().lookup(platform::files::fileName(job_.localPath));
  const uint64_t chunkSize = context_.settings().chunkSize;
  return http::meta_commit_put(context_.credentials(), job_.remotePath,
                               job_.keys.empty() ? nullptr : job_.keys.front().data(),
                               static_cast<int32_t>(job_.keys.size()),
                               static_cast<uint32_t>(chunkSize),
                               static_cast<int64_t>(job_.fileSize), editTime.c_str(), mime.c_str(),
                               baseBytes(job_.base), &entry);
}

int UploadFileCallback::complete(int code) {
  const bool small = code == codes::kUnchanged;
  if (!small && !job_.committed) {
    int rc = commit();
    if (rc != codes::kOk) {
      log_write(kLogError, kModuleSync, "varnelo_meta_commit_put return code:[%d]", rc);
      log_location();
      return rc;
    }
  }
  // A small file's bytes travel with its one request either way, so the
  // chunk index, which spares transfers of chunks found on disk, skips it.
  if (chunkcache::ChunkCache* cache = context_.chunkCache();
      cache && job_.fileSize > context_.settings().smallFileLimit) {
    cache->recordFile(job_.localPath, job_.fileSize, context_.settings().chunkSize, job_.keys);
  }
  context_.recentUploads().uploaded(job_.localPath, job_.fileSize, job_.lastWrite,
                                    context_.settings().chunkSize, job_.readAt, job_.keys);
  Signature ver;
  std::memcpy(ver.data(), entry.ver, ver.size());
  int made = 0;
  auto batch = context_.journal().batch();  // the row and its folders' rows
  if (putRowWithParents(context_.journal(), job_.journalPath, sync::FileJournal::kTypeFile, ver,
                        job_.fileSize, job_.lastWrite, &made, job_.stamp) != 0 ||
      context_.journal().removeCommitIntent(job_.journalPath) != 0) {
    return codes::kLocalFailure;
  }
  queueMadeFolders(context_, job_.localPath, made);
  if (small) return codes::kUnchanged;
  return job_.journalKnowsFile ? codes::kReplacedRemote : codes::kOk;
}

void UploadFileCallback::run(int code) {
  if (context_.isStopping()) {
    code = codes::kStopped;
  } else if (code != codes::kOk && code != codes::kUnchanged) {
    log_write(kLogError, kModuleSync, "upload file failed:[%s], local error:[%d]",
              job_.localPath.c_str(), code);
    log_location();
  } else {
    code = complete(code);
  }
  context_.uploadDone(code, job_.localPath);
}

}  // namespace uploader

// ---- transfer ---------------------------------------------------------------

int UploadFile::makeSmallTask(uploader::UploadFileCallback& callback, TransferGroup& group,
                              std::unique_ptr<UploadSmallFileTask>& task) {
  const uint64_t chunkSize = context_.settings().chunkSize;
  const std::string editTime = editTimeText(job_.lastWrite);
  const std::string mime = MimeTypes::system().lookup(platform::files::fileName(job_.localPath));
  size_t length = 0;
  const std::string path = job_.remotePath;
  if (http::small_put_url(path.c_str(), job_.keys.front().data(),
                          static_cast<int64_t>(job_.fileSize), static_cast<uint32_t>(chunkSize),
                          mime.c_str(), editTime.c_str(), baseBytes(job_.base), nullptr,
                          &length) != codes::kOk) {
    return codes::kOtherFailure;
  }
  std::string url(length + 1, '\0');
  size_t size = url.size();
  if (http::small_put_url(path.c_str(), job_.keys.front().data(),
                          static_cast<int64_t>(job_.fileSize), static_cast<uint32_t>(chunkSize),
                          mime.c_str(), editTime.c_str(), baseBytes(job_.base), url.data(),
                          &size) != codes::kOk) {
    return codes::kOtherFailure;
  }
  url.resize(size);

  group.callback = &callback;
  group.timeoutMs = context_.settings().requestTimeoutMs;
  group.attempts = context_.settings().attempts;
  group.lastWrite = job_.lastWrite;
  group.smallFileSize = job_.fileSize;
  group.entry = &callback.entry;
  task = std::make_unique<UploadSmallFileTask>(group, job_.keys.front());
  task->path = job_.localPath;
  task->offset = 0;
  task->length = static_cast<uint32_t>(job_.fileSize);
  task->url = url;
  task->signer = context_.credentials();  // signed by the task, anew for every attempt
  return codes::kOk;
}

int UploadFile::sendSmall(uploader::UploadFileCallback& callback) {
  TransferGroup group;
  std::unique_ptr<UploadSmallFileTask> task;
  if (const int rc = makeSmallTask(callback, group, task); rc != codes::kOk) return rc;
  group.addPending();
  task->run();
  return task->result();
}

int UploadFile::sendOneChunkHere(uploader::UploadFileCallback& callback) {
  int rc = sendChunks(callback, true);
  if (rc == codes::kOk && !job_.committed) {
    rc = callback.commit();
    if (rc != codes::kOk) {
      log_write(kLogError, kModuleSync, "varnelo_meta_commit_put return code:[%d]", rc);
      return rc;
    }
    job_.committed = true;
  }
  return rc;
}

int UploadFile::sendChunks(uploader::UploadFileCallback& callback, bool onThisThread) {
  SyncSettings& settings = context_.settings();
  const uint64_t chunkSize = settings.chunkSize;
  const uint64_t count = job_.keys.size();
  if (commitKnownChunks(callback)) return codes::kOk;
  PrepareResult prepared;
  int rc = http::meta_prepare_put(
      context_.credentials(), job_.remotePath, count ? job_.keys.front().data() : nullptr,
      static_cast<int32_t>(count), static_cast<uint32_t>(chunkSize),
      static_cast<int64_t>(job_.fileSize), baseBytes(job_.base), &prepared.p);
  if (rc == codes::kConflict && callback.verifyConflict()) return codes::kUnchanged;
  if (rc != codes::kOk) {
    log_write(kLogError, kModuleSync, "varnelo_meta_prepare_put return code:[%d]", rc);
    log_location();
    return rc;
  }
  const int32_t required = varnelo_array_size(prepared.p->required);
  if (required <= 0) {
    callback.progress(0, static_cast<int64_t>(job_.fileSize));  // the service has every chunk
    return codes::kOk;
  }

  // Every task is owned here and outlives the wait; the arena only holds the
  // work items that point at them.
  TransferGroup group;
  group.callback = &callback;
  group.timeoutMs = settings.requestTimeoutMs;
  group.attempts = settings.attempts;
  group.lastWrite = job_.lastWrite;
  std::vector<std::unique_ptr<UploadChunkTask>> tasks;
  tasks.reserve(required);
  std::vector<bool> seen(count, false);
  for (int32_t i = 0; i < required; ++i) {
    varnelo_meta_indexurl item{};
    if (varnelo_meta_indexurl_array_at(prepared.p->required, i, &item) != codes::kOk ||
        item.index < 0 || static_cast<uint64_t>(item.index) >= count || seen[item.index]) {
      log_write(kLogError, kModuleSync, "prepare_put required entry %d is invalid", i);
      return codes::kOtherFailure;
    }
    seen[item.index] = true;
    auto task = std::make_unique<UploadChunkTask>(group, job_.keys[item.index]);
    task->path = job_.localPath;
    task->offset = static_cast<uint64_t>(item.index) * chunkSize;
    task->length = static_cast<uint32_t>(chunkLengthOf(item.index, job_.fileSize, chunkSize));
    task->url = item.url;
    tasks.push_back(std::move(task));
  }
  // Chunks the service already holds count as done.
  uint64_t held = job_.fileSize;
  for (const auto& task : tasks) held -= task->length;
  if (held > 0) callback.progress(0, static_cast<int64_t>(held));

  mthread::OperationArena arena;
  auto& channel = mthread::IoChannel::instance();
  for (auto& task : tasks) {
    if (onThisThread) {
      group.addPending();
      task->run();
      continue;
    }
    channel.setThreadCount(settings.ioThreads);
    group.addPending();
    if (channel.post(arena, task.get(), &mthread::runTask<UploadChunkTask>) !=
        mthread::Channel::kPosted) {
      group.taskFinished(false);
    }
  }
  group.wait();
  if (group.failures.load() == 0) return codes::kOk;
  for (auto& task : tasks) {
    if (task->result() != codes::kOk && task->result() != codes::kStopped) return task->result();
  }
  return codes::kStopped;
}

bool UploadFile::commitKnownChunks(uploader::UploadFileCallback& callback) {
  chunkcache::ChunkCache* cache = context_.chunkCache();
  if (!cache || job_.keys.empty()) return false;
  for (const ChunkKey& key : job_.keys) {
    if (!cache->holdsChunk(key)) return false;
  }
  const int rc = callback.commit();
  if (rc != codes::kOk) {
    // A chunk the account no longer holds (400), a newer version (409), ...:
    // prepare_put sorts it out, and its answer is the one reported.
    log_write(kLogInfo, kModuleSync, "commit of known chunks return code:[%d], preparing", rc);
    return false;
  }
  job_.committed = true;
  callback.progress(0, static_cast<int64_t>(job_.fileSize));  // nothing to send
  return true;
}

int UploadFile::plan(uploader::UploadFileCallback& callback) {
  SyncSettings& settings = context_.settings();
  const uint64_t chunkSize = settings.chunkSize;
  const uint64_t count = chunkCountOf(job_.fileSize, chunkSize);
  if (count > INT32_MAX) return codes::kOtherFailure;
  if (count >= 128) {
    varnelo_meta_info_record info{};
    int rc = varnelo_meta_info(context_.credentials(), &info);
    if (rc != codes::kOk) {
      log_write(kLogError, kModuleSync, "varnelo_meta_info return code:[%d]", rc);
      log_location();
      return rc;
    }
    if (info.used + static_cast<int64_t>(job_.fileSize) > info.total) return codes::kQuotaExceeded;
  }
  job_.readAt = platform::currentFileTime();
  int rc = computeVersionKeys(job_.localPath, job_.fileSize, job_.lastWrite, chunkSize, job_.keys,
                              [this] { return context_.isStopping(); });
  if (rc != codes::kOk) return rc;

  // A synced folder that became a file goes away on the service first, so the
  // file can take its name.
  if (job_.journalKnowsFolder) {
    rc = uploader::deleteIfUnchanged(context_, job_.remotePath);
    // A folder changed on the service meanwhile stays; the remote pass keeps
    // this file beside it under a conflicted-copy name.
    if (rc == codes::kUnchanged) return codes::kConflict;
    if (rc != codes::kOk) return rc;
    job_.base.reset();
  }

  // Written before any request of this upload can reach the service
  // (CommitIntent.h); when it cannot be written the upload waits for later.
  sync::CommitIntent intent;
  intent.fileSize = static_cast<int64_t>(job_.fileSize);
  intent.editTime = static_cast<int64_t>(job_.lastWrite);
  intent.stamp = job_.stamp;
  intent.chunkSize = static_cast<int64_t>(chunkSize);
  intent.keysDigest = keysDigestOf(job_.keys);
  if (context_.journal().putCommitIntent(job_.journalPath, intent) != 0) {
    log_write(kLogError, kModuleSync, "cannot record the commit of:[%s]", job_.localPath.c_str());
    return codes::kLocalFailure;
  }

  callback.start(job_.fileSize);
  return codes::kOk;
}

bool UploadFile::isSmall() const {
  return job_.fileSize >= 1 && job_.fileSize <= context_.settings().smallFileLimit;
}

int UploadFile::finishSmall(uploader::UploadFileCallback& callback, int requestResult) {
  if (requestResult == codes::kOk) return codes::kUnchanged;  // sent, version in the entry
  if (requestResult == codes::kStopped || requestResult == codes::kConflict ||
      requestResult == codes::kFileChanged) {
    return requestResult;
  }
  return sendChunks(callback);
}

int UploadFile::prepareSmall(uploader::UploadFileCallback& callback, TransferGroup& group,
                             std::unique_ptr<UploadSmallFileTask>& task) {
  if (const int rc = plan(callback); rc != codes::kOk) return rc;
  // A request that cannot be made leaves `task` empty: finishSmall then
  // takes the chunked way, as send() does.
  if (makeSmallTask(callback, group, task) != codes::kOk) task.reset();
  return codes::kOk;
}

int UploadFile::prepareBatched(uploader::UploadFileCallback& callback, PutBatchMember& member) {
  if (const int rc = plan(callback); rc != codes::kOk) return rc;
  if (job_.keys.size() != 1) return codes::kOtherFailure;
  member.localPath = job_.localPath;
  member.remotePath = job_.remotePath;
  member.key = job_.keys.front();
  member.size = job_.fileSize;
  member.lastWrite = job_.lastWrite;
  member.base = job_.base;
  member.mimeType = MimeTypes::system().lookup(platform::files::fileName(job_.localPath));
  member.editTime = editTimeText(job_.lastWrite);
  member.callback = &callback;
  return codes::kOk;
}

int UploadFile::send(uploader::UploadFileCallback& callback) {
  if (const int rc = plan(callback); rc != codes::kOk) return rc;
  if (isSmall()) return finishSmall(callback, sendSmall(callback));
  return sendChunks(callback);
}

void UploadFile::run() {
  uploader::UploadFileCallback callback(context_, job_);
  int rc = send(callback);
  callback.run(rc);
}

}  // namespace varnelo
