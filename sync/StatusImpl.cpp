#include "StatusImpl.h"

namespace varnelo {

uint64_t StatusImpl::uploadSpeed() {
  return uploads_ ? uploads_->speed(meterSecondsNow()) : 0;
}

uint64_t StatusImpl::downloadSpeed() {
  return downloads_ ? downloads_->speed(meterSecondsNow()) : 0;
}

const char* StatusImpl::currentFile() {
  if (!current_) return nullptr;
  currentName_ = current_->snapshot().name;
  return currentName_.c_str();
}

uint64_t StatusImpl::currentTotal() {
  return current_ ? current_->snapshot().total : 0;
}

uint64_t StatusImpl::currentDone() {
  return current_ ? current_->snapshot().done : 0;
}

}  // namespace varnelo
