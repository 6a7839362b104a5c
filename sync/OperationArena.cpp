#include "OperationArena.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace mthread {

static_assert(alignof(std::max_align_t) <= OperationArena::kHeaderSize);

struct alignas(OperationArena::kHeaderSize) OperationArena::Block {
  Block* previous;
  size_t size;  // whole block, header included
};

namespace {

// Released standard blocks, kept for the next operation so that posting
// chunk tasks does not go to the general heap in the common case.
class BlockCache {
 public:
  static BlockCache& instance() {
    static BlockCache cache;
    return cache;
  }
  BlockCache() { blocks_.reserve(kMaxCached); }  // give() never allocates
  void* take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (blocks_.empty()) return nullptr;
    void* b = blocks_.back();
    blocks_.pop_back();
    return b;
  }
  // False when the cache is full; the caller frees the block.
  bool give(void* block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (blocks_.size() >= kMaxCached) return false;
    blocks_.push_back(block);
    return true;
  }
  ~BlockCache() {
    for (void* b : blocks_) std::free(b);
  }

 private:
  static constexpr size_t kMaxCached = 64;  // at most 4 MiB stays reserved
  std::mutex mutex_;                        // guards blocks_
  std::vector<void*> blocks_;
};

}  // namespace

void* OperationArena::allocateLarge(size_t size) noexcept {
  if (size > SIZE_MAX - kHeaderSize) return nullptr;
  void* memory = std::malloc(kHeaderSize + size);
  if (memory == nullptr) return nullptr;
  auto* block = new (memory) Block{nullptr, kHeaderSize + size};
  // Linked in behind the current block, which keeps serving small requests.
  if (current_ != nullptr) {
    block->previous = current_->previous;
    current_->previous = block;
  } else {
    current_ = block;
    free_ = static_cast<char*>(memory) + kHeaderSize;  // nothing else fits in it
  }
  return static_cast<char*>(memory) + kHeaderSize;
}

void* OperationArena::allocate(size_t size, size_t alignment) noexcept {
  if (alignment == 0 || alignment > kHeaderSize || (alignment & (alignment - 1)) != 0) {
    return nullptr;
  }
  if (size == 0) size = 1;
  if (size >= kLargeRequest) return allocateLarge(size);  // aligned to kHeaderSize
  // Carve downward from the free end: the candidate start, aligned down.
  const auto carve = [&](Block* block, char* end) -> char* {
    char* base = reinterpret_cast<char*>(block) + kHeaderSize;
    if (static_cast<size_t>(end - base) < size) return nullptr;
    const uintptr_t p =
        (reinterpret_cast<uintptr_t>(end) - size) & ~(static_cast<uintptr_t>(alignment) - 1);
    return p >= reinterpret_cast<uintptr_t>(base) ? reinterpret_cast<char*>(p) : nullptr;
  };
  if (current_ != nullptr && current_->size == kBlockSize) {
    if (char* p = carve(current_, free_)) {
      free_ = p;
      return p;
    }
  }
  void* memory = BlockCache::instance().take();
  if (memory == nullptr) memory = std::malloc(kBlockSize);
  if (memory == nullptr) return nullptr;
  current_ = new (memory) Block{current_, kBlockSize};
  free_ = carve(current_, static_cast<char*>(memory) + kBlockSize);
  return free_;
}

void OperationArena::release() noexcept {
  for (Block* b = current_; b != nullptr;) {
    Block* previous = b->previous;
    if (b->size != kBlockSize || !BlockCache::instance().give(b)) std::free(b);
    b = previous;
  }
  current_ = nullptr;
  free_ = nullptr;
}

std::vector<size_t> OperationArena::blockSizes() const {
  std::vector<size_t> sizes;
  for (Block* b = current_; b != nullptr; b = b->previous) sizes.push_back(b->size);
  return sizes;
}

}  // namespace mthread
