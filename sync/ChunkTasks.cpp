#include "ChunkTasks.h"

#include <json/json.h>

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "Base64Url.h"
#include "ChunkCache.h"
#include "DownloadSink.h"
#include "HttpStatus.h"
#include "JsonAccess.h"
#include "Log.h"
#include "OAuthHeader.h"
#include "TransferCodes.h"
#include "Transport.h"
#include "platform/files.h"

namespace varnelo {

namespace {

// Header lines as the transport takes them: a NULL-terminated pointer array.
class HeaderArray {
 public:
  explicit HeaderArray(const std::vector<std::string>& lines) {
    for (const auto& l : lines) pointers_.push_back(l.c_str());
    pointers_.push_back(nullptr);
  }
  http::HeaderList get() const { return lines() ? pointers_.data() : nullptr; }

 private:
  bool lines() const { return pointers_.size() > 1; }
  std::vector<const char*> pointers_;
};

// Block size of a chunk copied from a local file: the sink's own, so each
// block goes to the file as it is.
constexpr uint64_t kCopyBlock = DownloadSink::kBlockBytes;

}  // namespace

// ---- uploads ----------------------------------------------------------------

int UploadDataTask::attempt(int64_t& sent) {
  IoCallback* cb = group_.callback;
  sent = 0;
  if ((cb && cb->isStopping()) || group_.failures.load() > 0) return codes::kStopped;
  platform::File file;
  if (file.open(path, platform::File::Mode::Read)) return codes::kLocalFailure;
  platform::files::EntryInfo info;
  if (platform::files::stat(path, info)) return codes::kLocalFailure;
  if (info.lastWrite != group_.lastWrite) return codes::kFileChanged;
  if (info.size < offset + length) return codes::kLocalFailure;

  // The bytes go from the file straight into libcurl's upload buffer: no
  // chunk-sized buffer per task. The service takes them only when they hash
  // to the key, so bytes changed since the keys were computed never become
  // the chunk.
  http::PutBlock block;
  block.length = length;
  block.source = [&file, this](size_t position, char* out, size_t size) -> size_t {
    size_t got = 0;
    return file.readAt(offset + position, out, size, got) ? 0 : got;
  };
  block.isStopping = [cb] { return cb && cb->isStopping(); };
  block.onSent = [cb](size_t n) {
    if (cb) cb->progress(platform::currentFileTime(), static_cast<int64_t>(n));
  };
  std::vector<std::string> lines = this->headers;
  if (signer) {
    char* auth = nullptr;
    if (const int rc = http::make_oauth_header(signer, &auth, "PUT", url.c_str()); rc != codes::kOk)
      return rc;
    lines.push_back(std::string("Authorization: ") + auth);
    free(auth);
  }
  http::StringSink body, headers;
  HeaderArray extra(lines);
  int rc =
      http::http_put(url, block, extra.get(), static_cast<long>(group_.timeoutMs), body, headers);
  sent = static_cast<int64_t>(block.position);
  int result = rc != 0 ? rc : http::parse_http_status(headers.bytes);
  result = parseResult(result, body.bytes);
  if (cb && cb->isStopping()) return codes::kStopped;
  if (result == codes::kOk && (!block.ok || block.position != block.length))
    return codes::kLocalFailure;
  // Written to while it was sent: what goes up would no longer be the file
  // as its keys were taken, so the whole file is tried again later. A small
  // file's request already committed the bytes it sent (they hashed to its
  // key), so its result stays.
  if (result == codes::kOk && !commitsOnSend() &&
      (platform::files::stat(path, info) || info.lastWrite != group_.lastWrite)) {
    return codes::kFileChanged;
  }
  return result;
}

void UploadDataTask::run() {
  int result = codes::kOtherFailure;
  for (;;) {
    int64_t sent = 0;
    result = attempt(sent);
    if (result == codes::kOk) break;
    if (sent > 0 && group_.callback) group_.callback->progress(0, -sent);
    log_write(kLogError, kModuleSync, "upload io chunk at pos:[%" PRIu64 "], return code:[%d]",
              offset, result);
    log_location();
    if (result == codes::kStopped || result == codes::kFileChanged || result == codes::kConflict)
      break;
    if (++attempts >= static_cast<int>(group_.attempts)) break;
  }
  result_ = result;
  group_.taskFinished(result == codes::kOk);
}

int UploadChunkTask::parseResult(int status, const std::string&) {
  log_write(kLogInfo, kModuleSync, "UploadChunkTask parseResult return code:[%d]", status);
  return status;
}

int UploadSmallFileTask::parseResult(int status, const std::string& body) {
  int result = status;
  if (status == codes::kOk) {
    // The shared reader: it turns a reply nested too deeply for it into a
    // failure instead of an exception that would end this I/O thread.
    Json::Value reply;
    if (!http::parse_json(body, reply)) {
      result = codes::kBadReply;
    } else {
      std::vector<uint8_t> ver;
      const Json::Value& v = reply.isObject() ? reply["ver"] : Json::Value::nullSingleton();
      if (!v.isString() || !http::base64url_decode(v.asString(), ver) ||
          ver.size() != VARNELO_VERSION_BYTES) {
        result = codes::kOtherFailure;
      } else if (group_.entry) {
        std::memcpy(group_.entry->ver, ver.data(), ver.size());
      }
    }
  }
  if (result == codes::kConflict && group_.callback && group_.callback->verifyConflict()) {
    result = codes::kOk;
  }
  log_write(kLogInfo, kModuleSync, "UploadSmallFileTask parseResult return code:[%d]", result);
  return result;
}

// ---- downloads --------------------------------------------------------------

int DownloadChunkTask::copyFromLocal() {
  if (!group_.cache) return codes::kNotFound;
  chunkcache::ChunkKey key;
  std::memcpy(key.data(), key_.data(), key.size());
  std::vector<chunkcache::ChunkLocation> rows;
  if (group_.cache->findChunk(key, rows, 0) <= 0) return codes::kNotFound;
  std::vector<uint8_t> buffer;
  IoCallback* cb = group_.callback;
  for (const auto& row : rows) {
    if (cb && cb->isStopping()) return codes::kStopped;
    if (row.length != length_) continue;
    platform::File source;
    if (source.open(row.path, platform::File::Mode::Read)) continue;
    // Streamed through a block-sized buffer, like a download: the sink
    // writes and hashes each block, and only a whole chunk that hashes to
    // the key counts.
    buffer.resize(static_cast<size_t>(std::min<uint64_t>(length_, kCopyBlock)));
    DownloadSink sink(target_, offset_, length_, cb, false, &group_.writeLock);
    uint64_t done = 0;
    while (done < length_ && sink.ok()) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), length_ - done));
      size_t got = 0;
      if (source.readAt(row.offset + done, buffer.data(), want, got) || got != want) break;
      sink.write(reinterpret_cast<const char*>(buffer.data()), got);
      done += got;
    }
    if (done == length_ && sink.matches(key_)) return codes::kOk;
    if (cb && sink.written() > 0) cb->progress(0, -static_cast<int64_t>(sink.written()));
    if (sink.writeError()) return writeFailed(sink.writeError());
  }
  return codes::kNotFound;
}

int DownloadChunkTask::writeFailed(const std::error_code& error) const {
  log_write(kLogError, kModuleSync, "writing the part file at pos:[%" PRIu64 "] failed: %s",
            offset_, error.message().c_str());
  return codes::kLocalFailure;
}

int DownloadChunkTask::fetch(int64_t& written) {
  IoCallback* cb = group_.callback;
  DownloadSink sink(target_, offset_, length_, cb, true, &group_.writeLock);
  http::StringSink headers;
  int rc = http::http_get(url_, nullptr, static_cast<long>(group_.timeoutMs), offset_, length_,
                          sink, headers);
  if (cb && cb->isStopping()) {
    written = static_cast<int64_t>(sink.written());
    return codes::kStopped;
  }
  int result = rc != 0 ? rc : http::parse_http_status(headers.bytes);
  if (result == 206) result = codes::kOk;
  // Only a successful reply's last gathered bytes are written (by matches());
  // an error body stays out of the file.
  if (result == codes::kOk && !sink.matches(key_)) result = codes::kBadChunk;
  written = static_cast<int64_t>(sink.written());
  if (sink.writeError()) return writeFailed(sink.writeError());
  return result;
}

void DownloadChunkTask::run() {
  IoCallback* cb = group_.callback;
  int result = codes::kOtherFailure;
  const int64_t index = group_.chunkSize ? static_cast<int64_t>(offset_ / group_.chunkSize) : 0;
  for (uint32_t attempt = 0; attempt < group_.attempts; ++attempt) {
    if ((cb && cb->isStopping()) || group_.failures.load() > 0) {
      result = codes::kStopped;
      break;
    }
    if (attempt == 0) {
      result = copyFromLocal();
      if (result == codes::kOk || result == codes::kStopped || result == codes::kLocalFailure)
        break;
    }
    int64_t written = 0;
    result = fetch(written);
    if (result == codes::kOk) break;
    log_write(kLogError, kModuleSync, "download io chunk [%" PRId64 "], return code:[%d]", index,
              result);
    log_location();
    if (written > 0 && cb) cb->progress(0, -written);
    // A full disk or a failing one: another request brings the same bytes
    // to the same failed write.
    if (result == codes::kStopped || result == codes::kLocalFailure) break;
  }
  // The chunk's bytes start on their way to disk now, while other chunks
  // still arrive, so the sync before the file is put in place waits for
  // little more than the last chunks.
  if (result == codes::kOk) {
    target_.startWriteback(offset_, length_);
    // Synced while the rest still arrives, by one task at a time: the sync
    // before the file is put in place then waits only for what came since
    // the last of these, not for the whole file. The file's last task (a
    // file of one chunk, the end of a larger one) leaves it to that sync.
    if (group_.pending() > 1 && !group_.syncing.exchange(true)) {
      target_.sync();
      group_.syncing.store(false);
    }
  }
  result_ = result;
  group_.taskFinished(result == codes::kOk);
}

}  // namespace varnelo
