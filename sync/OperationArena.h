// OperationArena: the region allocator of one file-level transfer. The
// upload or download of a file carves its chunk tasks and their work items
// from it, posts them, waits for its transfer group's done event and only
// then releases the arena (by destroying or resetting it), all at once.
//
// Memory is handed out downward from the free end of the current block. A
// request that does not fit opens a new block of kBlockSize bytes, taken
// from a process-wide cache of released blocks when one is there; a request
// of kLargeRequest bytes or more gets a block of its own. Each block starts
// with a link word to the previous one (and its size, so that release knows
// which blocks go back to the cache). Nothing is freed individually and
// no destructors are run: only trivially destructible records, or objects
// the owner destroys itself, belong here.
//
// Not thread safe: one arena belongs to the thread of its operation. The
// block cache behind it is shared and locked.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace mthread {

class OperationArena {
 public:
  static constexpr size_t kBlockSize = 65520;
  // Link word and size, padded to the strictest alignment handed out.
  static constexpr size_t kHeaderSize = 16;
  // Requests of this size or more do not fit beside the header of a
  // standard block: they get a block of their own.
  static constexpr size_t kLargeRequest = kBlockSize - kHeaderSize;

  OperationArena() = default;
  ~OperationArena() { release(); }
  OperationArena(const OperationArena&) = delete;
  OperationArena& operator=(const OperationArena&) = delete;

  // `size` bytes aligned to `alignment` (a power of two up to kHeaderSize);
  // null when memory is exhausted or the alignment is not supported.
  void* allocate(size_t size, size_t alignment = alignof(std::max_align_t)) noexcept;

  // Constructs a T in the arena; null when memory is exhausted.
  template <class T, class... Args>
  T* create(Args&&... args) {
    static_assert(alignof(T) <= kHeaderSize, "over-aligned types do not fit the arena");
    void* p = allocate(sizeof(T), alignof(T));
    return p ? new (p) T(std::forward<Args>(args)...) : nullptr;
  }

  // Gives every block back (standard blocks to the shared cache).
  void release() noexcept;

  // Sizes of the blocks held, header included, along the link chain from
  // the current block (for tests and diagnostics).
  std::vector<size_t> blockSizes() const;

 private:
  struct Block;
  void* allocateLarge(size_t size) noexcept;

  Block* current_ = nullptr;  // the standard block being carved; links to older blocks
  char* free_ = nullptr;      // lowest byte handed out in current_
};

}  // namespace mthread
