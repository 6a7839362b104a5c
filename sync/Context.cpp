#include "Context.h"

#include "Log.h"
#include "SyncRoot.h"
#include "TransferCodes.h"
#include "platform/file.h"
#include "platform/files.h"
#include "varnelo/IVarneloEvent.h"

namespace varnelo {

namespace {
constexpr size_t kMaxRefusedPaths = 100000;
// Beyond this many, a file refused as a conflict whose rival goes is sent by
// the next full local scan.
constexpr size_t kMaxConflictPaths = 100000;
}  // namespace

Context::Context(Setup setup) : setup_(std::move(setup)) {}

void Context::reportIdleIfDone(int remaining) {
  if (remaining == 0 && setup_.sink) {
    setup_.sink->statusChanged(isPaused() ? kEnginePaused : kEngineIdle);
  }
}

void Context::uploadStarted(const std::string& localPath) {
  int now = uploads_.fetch_add(1) + 1;
  if (setup_.sink) {
    if (now == 1) setup_.sink->statusChanged(kEngineUploading);
    setup_.sink->fileStateChanged(localPath.c_str(), kFileUploading);
  }
  log_write(kLogInfo, kModuleSync, "upload path started:[%s]", localPath.c_str());
}

void Context::downloadStarted(const std::string& localPath) {
  int now = downloads_.fetch_add(1) + 1;
  if (setup_.sink) {
    if (now == 1) setup_.sink->statusChanged(kEngineDownloading);
    setup_.sink->fileStateChanged(localPath.c_str(), kFileDownloading);
  }
  log_write(kLogInfo, kModuleSync, "download path started:[%s]", localPath.c_str());
}

void Context::uploadDone(int code, const std::string& localPath) {
  const int remaining = uploads_.fetch_sub(1) - 1;
  const char* path = localPath.c_str();
  IVarneloEvent* sink = setup_.sink;
  if (code == codes::kOk) {
    if (sink) sink->uploaded(path);
    if (sink) sink->fileStateChanged(path, kFileInStep);
  } else if (code == codes::kUnchanged || code == codes::kReplacedRemote) {
    if (sink) sink->fileStateChanged(path, kFileInStep);
  } else if (code == codes::kConflict) {
    if (sink) sink->fileStateChanged(path, kFileConflict);
    if (conflicts_.size() < kMaxConflictPaths) conflicts_.insert(localPath);
  } else {
    // A file that exists but cannot be read now is "in use" and retried.
    platform::files::EntryInfo info;
    const bool isFile =
        !platform::files::stat(localPath, info) && info.type == platform::files::EntryType::File;
    platform::File probe;
    if (isFile && probe.open(localPath, platform::File::Mode::Read)) code = codes::kFileChanged;
    if (sink) sink->fileStateChanged(path, code == codes::kFileChanged ? kFileInUse : kFileFailed);
    // Failures are retried whether or not anyone listens for reports.
    if (!isPaused() && platform::files::exists(localPath)) {
      retry_.add(localPath);
      log_write(kLogError, kModuleSync, "upload file failed:[%s], retry it later", path);
      log_location();
    }
  }
  if (code != codes::kConflict) conflicts_.erase(localPath);
  noteResult(code, localPath);
  if (sink) sink->result(code, path);
  reportIdleIfDone(remaining);
  if (code == codes::kOk || code == codes::kReplacedRemote || code == codes::kUnchanged) {
    log_write(kLogInfo, kModuleSync, "upload file succeeded:[%s], return code:[%d]", path, code);
  } else {
    log_write(kLogError, kModuleSync, "upload file failed:[%s], sync error:[%d]", path, code);
    log_location();
  }
}

void Context::downloadDone(int code, const std::string& localPath) {
  if (code == codes::kLocalFailure) {
    // A write that failed because the sync folder went away meanwhile (its
    // temporary folder with it) is reported as what happened.
    if (const int held = rootCheck(); held != codes::kOk) code = held;
  }
  const int remaining = downloads_.fetch_sub(1) - 1;
  const char* path = localPath.c_str();
  noteResult(code, localPath);
  if (setup_.sink) {
    if (code == codes::kOk) setup_.sink->downloaded(path);
    setup_.sink->result(code, path);
    setup_.sink->fileStateChanged(path, code == codes::kConflict ? kFileConflict : kFileInStep);
    reportIdleIfDone(remaining);
  }
  if (code != codes::kOk && code != codes::kReplacedLocal) {
    log_write(kLogError, kModuleSync, "download file failed:[%s], sync error:[%d]", path, code);
    log_location();
  } else {
    log_write(kLogInfo, kModuleSync, "download file succeeded:[%s], return code:[%d]", path, code);
  }
}

namespace {

int rootCode(sync::RootState state) {
  switch (state) {
    case sync::RootState::Available:
      return codes::kOk;
    case sync::RootState::Missing:
      return codes::kSyncRootMissing;
    case sync::RootState::Unavailable:
      break;
  }
  return codes::kSyncRootUnavailable;
}

}  // namespace

int Context::rootCheck() {
  if (!setup_.root) {
    return platform::files::isDirectory(setup_.localRoot) ? codes::kOk : codes::kSyncRootMissing;
  }
  return rootCode(setup_.root->check());
}

int Context::rootIdentityCheck() {
  if (!setup_.root) return rootCheck();
  return rootCode(setup_.root->sameFolder());
}

bool Context::pathAvailable(const std::string& path) {
  return !setup_.root || setup_.root->pathAvailable(path);
}

bool Context::folderAvailable(const std::string& folder) {
  return !setup_.root || setup_.root->folderAvailable(folder);
}

void Context::reportResult(int code, const std::string& localPath) {
  noteResult(code, localPath);
  if (setup_.sink) setup_.sink->result(code, localPath.empty() ? nullptr : localPath.c_str());
}

void Context::noteResult(int code, const std::string& localPath) {
  if (localPath.empty()) return;
  std::lock_guard lock(refusedMutex_);
  if (code != codes::kUnsupported) {
    refused_.erase(localPath);
    return;
  }
  // Bounded: a path forgotten here is only not reported again when it joins.
  if (refused_.size() >= kMaxRefusedPaths) refused_.clear();
  refused_.insert(localPath);
}

bool Context::takesPart(const std::string& localPath) {
  {
    std::lock_guard lock(refusedMutex_);
    if (refused_.erase(localPath) == 0) return false;
  }
  log_write(kLogInfo, kModuleSync, "refused path takes part now:[%s]", localPath.c_str());
  if (setup_.sink) {
    setup_.sink->fileStateChanged(localPath.c_str(), kFileInStep);
    setup_.sink->result(codes::kOk, localPath.c_str());
  }
  return true;
}

}  // namespace varnelo
