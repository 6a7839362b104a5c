// A snapshot reader of transfer speeds and of the file in transfer, handed
// out by the engine while a sync runs and destroyed by its own release().
// One status object is used by one thread at a time.
#pragma once

#include <cstdint>

namespace varnelo {

class IVarneloStatus {
 public:
  virtual void release() = 0;
  // Bytes per second over the last ten seconds, summed over worker threads.
  virtual uint64_t uploadSpeed() = 0;
  virtual uint64_t downloadSpeed() = 0;
  // Name of the file in transfer, or null. The text stays valid until the
  // next call on this status object.
  virtual const char* currentFile() = 0;
  virtual uint64_t currentTotal() = 0;
  virtual uint64_t currentDone() = 0;

 protected:
  virtual ~IVarneloStatus() = default;
};

}  // namespace varnelo
