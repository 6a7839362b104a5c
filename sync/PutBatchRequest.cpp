#include "PutBatchRequest.h"

#include <cstring>
#include <exception>

#include "IoUpload.h"
#include "Log.h"
#include "MetaApi.h"
#include "TransferCodes.h"
#include "platform/file.h"
#include "platform/files.h"

namespace varnelo {
namespace {
// A member read and waiting for its answer (not a result code).
constexpr int kToSend = 1;
}  // namespace

size_t PutBatchRequest::add(PutBatchMember member) {
  bytes_ += member.size;
  members_.push_back(std::move(member));
  return members_.size() - 1;
}

bool PutBatchRequest::stopping() const {
  return !members_.empty() && members_.front().callback->isStopping();
}

std::vector<std::string> PutBatchRequest::readContents() {
  std::vector<std::string> contents(members_.size());
  for (size_t i = 0; i < members_.size(); ++i) {
    PutBatchMember& m = members_[i];
    if (stopping()) {
      m.result = codes::kStopped;
      continue;
    }
    platform::File file;
    platform::files::EntryInfo info;
    if (file.open(m.localPath, platform::File::Mode::Read) ||
        platform::files::stat(m.localPath, info)) {
      m.result = codes::kLocalFailure;
      continue;
    }
    // Written since its keys were taken: the file is planned again later,
    // as its own small put would have it.
    if (info.lastWrite != m.lastWrite) {
      m.result = codes::kFileChanged;
      continue;
    }
    std::string& bytes = contents[i];
    bytes.resize(static_cast<size_t>(m.size));
    size_t got = 0;
    if (info.size < m.size || file.readAt(0, bytes.data(), bytes.size(), got) ||
        got != bytes.size()) {
      m.result = codes::kLocalFailure;
      bytes.clear();
      continue;
    }
    m.result = kToSend;
  }
  return contents;
}

void PutBatchRequest::send(std::vector<std::string>& contents) {
  std::vector<size_t> sent;
  std::vector<http::PutBatchFile> files;
  for (size_t i = 0; i < members_.size(); ++i) {
    PutBatchMember& m = members_[i];
    if (m.result != kToSend) continue;
    sent.push_back(i);
    files.push_back({m.remotePath, m.key.data(), contents[i], chunkSize_,
                     m.base ? m.base->data() : nullptr, m.mimeType, m.editTime});
  }
  if (files.empty()) return;
  std::vector<http::PutBatchResult> results;
  int rc = codes::kOtherFailure;
  for (uint32_t attempt = 0; attempt < group.attempts; ++attempt) {
    if (stopping()) {
      rc = codes::kStopped;
      break;
    }
    // Signed anew for every attempt: the service refuses a nonce it has seen.
    rc = http::meta_put_batch(credentials_, files, results, static_cast<long>(group.timeoutMs),
                              &cancel);
    log_write(rc == codes::kOk ? kLogInfo : kLogError, kModuleSync,
              "put_batch of %zu files return code:[%d]", files.size(), rc);
    // A refused request (400) or a reply of the wrong shape (-1) would
    // come back the same; a failed transfer or a busy service may not. A
    // retry of a batch that was applied finds each file's new version
    // there, which the conflict check below accepts.
    if (rc == codes::kOk || rc == 400 || rc == codes::kOtherFailure || rc == 499) break;
  }
  if (rc != codes::kOk || results.size() != files.size()) {
    for (size_t i : sent) members_[i].result = rc == codes::kOk ? codes::kOtherFailure : rc;
    return;
  }
  for (size_t n = 0; n < sent.size(); ++n) {
    PutBatchMember& m = members_[sent[n]];
    int result = results[n].code;
    if (result == codes::kOk) {
      std::memcpy(m.callback->entry.ver, results[n].ver, sizeof m.callback->entry.ver);
    } else if (result == codes::kConflict && m.callback->verifyConflict()) {
      result = codes::kOk;  // the service holds this very content already
    }
    if (result == codes::kOk) {
      m.callback->progress(platform::currentFileTime(), static_cast<int64_t>(m.size));
    }
    m.result = result;
  }
}

void PutBatchRequest::run() {
  bool ok = false;
  try {
    std::vector<std::string> contents = readContents();
    send(contents);
    ok = true;
  } catch (const std::exception&) {
    // Out of memory, most likely: every file not yet answered is tried
    // again the usual way.
    for (PutBatchMember& m : members_)
      if (m.result == kToSend || m.result == -1) m.result = codes::kOtherFailure;
  }
  group.taskFinished(ok);
}

}  // namespace varnelo
