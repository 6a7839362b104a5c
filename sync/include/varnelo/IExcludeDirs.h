// IExcludeDirs: a snapshot of the excluded server folders that the engine
// hands out from getExcludeDirs. Texts belong to the object and stay valid
// until release(). One thread at a time.
#pragma once

#include <cstdint>

namespace varnelo {

class IExcludeDirs {
 public:
  virtual void release() = 0;
  virtual uint32_t count() = 0;
  // The UTF-8 server folder at `index`; the caller keeps index below count()
  // (an index past it answers null).
  virtual const char* at(uint32_t index) = 0;

 protected:
  ~IExcludeDirs() = default;
};

}  // namespace varnelo
