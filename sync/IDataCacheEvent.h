// Events that keep the chunk index in step with the local disk: a file got a
// new name, or a file went away. Sent by whichever part of the engine learns
// of the change (the change monitor or the file syncer); implemented by
// chunkcache::ChunkCache. Implementations must accept calls from any thread.
#pragma once

#include <string>

namespace chunkcache {

class IDataCacheEvent {
 public:
  virtual void onRename(const std::string& oldPath, const std::string& newPath) = 0;
  virtual void onRemove(const std::string& path) = 0;

 protected:
  ~IDataCacheEvent() = default;
};

}  // namespace chunkcache
