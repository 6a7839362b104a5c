#include "TrayModel.h"

namespace varnelo::desktop {

void TrayModel::clearErrors() {
  std::lock_guard lock(mutex_);
  errors_.clear();
}

void TrayModel::addError(int code) {
  std::lock_guard lock(mutex_);
  errors_.insert(code);
}

std::set<int> TrayModel::errors() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

bool TrayModel::hasErrors() const {
  std::lock_guard lock(mutex_);
  return !errors_.empty();
}

void TrayModel::countDownloaded() {
  std::lock_guard lock(mutex_);
  ++downloaded_;
}

void TrayModel::countUploaded() {
  std::lock_guard lock(mutex_);
  ++uploaded_;
}

std::pair<int, int> TrayModel::takeCounts() {
  std::lock_guard lock(mutex_);
  const std::pair<int, int> counts{uploaded_, downloaded_};
  uploaded_ = downloaded_ = 0;
  return counts;
}

Quota TrayModel::quota() const {
  std::lock_guard lock(mutex_);
  return quota_;
}

void TrayModel::setQuota(const Quota& quota) {
  std::lock_guard lock(mutex_);
  quota_ = quota;
}

void TrayModel::forgetQuota() {
  std::lock_guard lock(mutex_);
  quota_ = {};
}

void TrayModel::resetForUnlink() {
  std::lock_guard lock(mutex_);
  uploaded_ = downloaded_ = 0;
  quota_ = {};
}

}  // namespace varnelo::desktop
