// The content of small files that came with their folder's listing, held
// from the listing until the file's bytes are written into its part file,
// or until the file is passed over. What one remote pass holds at once is
// bounded by its allowance: a file that finds none left is fetched on its
// own, as one that came without content.
//
//   ListedAllowance allowance(16 << 20);
//   ListedContent content = ListedContent::take(allowance, std::move(bytes));
//   if (content.empty()) ...;  // over the allowance: fetch it instead
//   write(content.data(), content.size());
//   content.release();         // given back at once (or when destroyed)
//
// A ListedContent belongs to one thread at a time (it moves with its file's
// download job onto an I/O thread); the allowance is shared and atomic, and
// must outlive every content taken from it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnelo::downloader {

class ListedAllowance {
 public:
  explicit ListedAllowance(size_t limit) : left_(limit) {}
  ListedAllowance(const ListedAllowance&) = delete;
  ListedAllowance& operator=(const ListedAllowance&) = delete;

  // Takes `n` bytes of what is left; false (nothing taken) when fewer are.
  bool take(size_t n);
  void give(size_t n) { left_.fetch_add(n, std::memory_order_relaxed); }
  size_t left() const { return left_.load(std::memory_order_relaxed); }

 private:
  std::atomic<size_t> left_;
};

class ListedContent {
 public:
  ListedContent() = default;
  // The bytes, counted against `allowance`; empty when it has not enough
  // left (the bytes are dropped then).
  static ListedContent take(ListedAllowance& allowance, std::vector<uint8_t>&& bytes);
  ~ListedContent() { release(); }
  ListedContent(ListedContent&& other) noexcept { *this = std::move(other); }
  ListedContent& operator=(ListedContent&& other) noexcept;

  bool empty() const { return allowance_ == nullptr; }
  const uint8_t* data() const { return bytes_.data(); }
  size_t size() const { return bytes_.size(); }
  // Frees the bytes and gives them back to the allowance; empty after.
  void release();

 private:
  ListedAllowance* allowance_ = nullptr;  // null: holds nothing
  std::vector<uint8_t> bytes_;
};

}  // namespace varnelo::downloader
