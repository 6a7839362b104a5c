// IVolumes: a snapshot of the mounted volumes (server folder, local folder,
// name) that the engine hands out from getVolumes. The texts belong to the
// object and stay valid until release(). One thread at a time.
#pragma once

#include <cstdint>

namespace varnelo {

struct VolumeInfo {
  const char* serverPath;
  const char* localPath;
  const char* name;
};

class IVolumes {
 public:
  virtual void release() = 0;
  virtual uint32_t count() = 0;
  // The record at `index`; an index at or past count() leaves `out` as it was.
  virtual void at(uint32_t index, VolumeInfo& out) = 0;

 protected:
  ~IVolumes() = default;
};

}  // namespace varnelo
