// IChunkCache: how the application opens and closes the engine's chunk
// index (the database of which local file holds which chunk) before it
// starts a sync. Reached through IVarnelo::getChunkCache; the engine owns it.
// Called from the application's thread, not while a sync runs.
#pragma once

#include <cstdint>

namespace varnelo {

class IChunkCache {
 public:
  // Opens the index database (created when missing) and the cache in
  // `cacheFolder`. 200; -4 when either cannot be opened; 499 for null.
  virtual int32_t open(const char* indexPath, const char* cacheFolder) = 0;
  virtual int32_t close() = 0;

 protected:
  ~IChunkCache() = default;
};

}  // namespace varnelo
