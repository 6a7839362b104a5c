#include "PlacementBatch.h"

#include <algorithm>

#include "Log.h"

namespace varnelo::downloader {

PlacementBatch::PlacementBatch(sync::FileJournal& journal, Flush flush)
    : PlacementBatch(journal, std::move(flush), Limits{}) {}

PlacementBatch::PlacementBatch(sync::FileJournal& journal, Flush flush, Limits limits)
    : journal_(journal), flush_(std::move(flush)), limits_(limits) {}

PlacementBatch::~PlacementBatch() {
  settle();
}

void PlacementBatch::open() {
  if (batch_ && batch_->active()) return;
  if (batch_) settle();  // one that a failure ended: said so, and its count cleared
  if (!journal_.isOpen()) return;
  batch_ = journal_.heldBatch();
}

bool PlacementBatch::defer(const std::string& folder) {
  if (!batch_ || !batch_->active()) return false;
  if (files_ == 0) since_ = std::chrono::steady_clock::now();
  if (std::find(folders_.rbegin(), folders_.rend(), folder) == folders_.rend())
    folders_.push_back(folder);
  ++files_;
  return true;
}

std::error_code PlacementBatch::settle(std::string* failed) {
  std::error_code result;
  if (batch_ && batch_->active()) {
    for (const std::string& folder : folders_) {
      if (auto ec = flush_(folder)) {
        log_write(kLogError, kModuleSync,
                  "cannot flush the folder of placed files:[%s], error:[%d], their rows are "
                  "dropped",
                  folder.c_str(), ec.value());
        batch_->rollBack();
        if (failed) *failed = folder;
        result = ec;
        break;
      }
    }
  } else if (files_ > 0) {
    // A failure ended the transaction after files were deferred: their
    // rows are gone with it, and the names need no flush for them.
    log_write(kLogError, kModuleSync, "the rows of %zu placed files were not kept", files_);
  }
  batch_.reset();  // commits what was not rolled back
  folders_.clear();
  files_ = 0;
  return result;
}

std::error_code PlacementBatch::settleIfDue(std::string* failed) {
  if (files_ == 0) return {};
  if (files_ < limits_.files && std::chrono::steady_clock::now() - since_ < limits_.age) return {};
  return settle(failed);
}

}  // namespace varnelo::downloader
