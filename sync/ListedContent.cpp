#include "ListedContent.h"

#include <utility>

namespace varnelo::downloader {

bool ListedAllowance::take(size_t n) {
  size_t left = left_.load(std::memory_order_relaxed);
  do {
    if (left < n) return false;
  } while (!left_.compare_exchange_weak(left, left - n, std::memory_order_relaxed));
  return true;
}

ListedContent ListedContent::take(ListedAllowance& allowance, std::vector<uint8_t>&& bytes) {
  ListedContent content;
  if (!bytes.empty() && allowance.take(bytes.size())) {
    content.allowance_ = &allowance;
    content.bytes_ = std::move(bytes);
  }
  return content;
}

ListedContent& ListedContent::operator=(ListedContent&& other) noexcept {
  if (this != &other) {
    release();
    allowance_ = std::exchange(other.allowance_, nullptr);
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
  }
  return *this;
}

void ListedContent::release() {
  if (allowance_ == nullptr) return;
  allowance_->give(bytes_.size());
  allowance_ = nullptr;
  std::vector<uint8_t>().swap(bytes_);
}

}  // namespace varnelo::downloader
