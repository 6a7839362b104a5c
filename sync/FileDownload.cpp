#include "FileDownload.h"

#include "Log.h"
#include "TempNames.h"

namespace varnelo::downloader {

int FileDownload::name() {
  if (const int held = context_.rootIdentityCheck(); held != codes::kOk) return held;
  if (auto ec = ensureTempFolder(context_.localRoot())) {
    log_write(kLogError, kModuleSync, "cannot create the temporary folder, error:[%d]", ec.value());
    return codes::kLocalFailure;
  }
  job_.tempPath = tempFolderPath(context_.localRoot()) +
                  partFileName(job_.localPath, job_.expected, context_.settings().partVersion);
  return codes::kOk;
}

int FileDownload::transferHere() {
  if (const int rc = openPart(); rc != codes::kOk) return rc;
  return DownloadFile(context_, job_, callback_).run(temp_);
}

void FileDownload::transfer() {
  if (sealOnly_) {
    code_ = context_.isStopping() ? codes::kStopped : callback_.seal(temp_);
    return;
  }
  code_ = openPart();
  if (code_ != codes::kOk) return;
  code_ = DownloadFile(context_, job_, callback_, DownloadFile::Chunks::OnThisThread).run(temp_);
  if (code_ == codes::kOk && !context_.isStopping()) code_ = callback_.seal(temp_);
}

void FileDownload::finish(int code) {
  code = callback_.run(code, temp_);
  folder_->finish(code == codes::kOk || code == codes::kReplacedLocal);
}

int FileDownload::openPart() {
  if (temp_.open(job_.tempPath, platform::File::Mode::CreateKeep)) {
    log_write(kLogError, kModuleSync, "cannot open the part file of:[%s]", job_.localPath.c_str());
    return codes::kLocalFailure;
  }
  return codes::kOk;
}

}  // namespace varnelo::downloader
