#include "TransferCallback.h"

#include "platform/sync_primitives.h"

namespace varnelo {

void TransferCallback::progress(uint64_t time, int64_t bytes) {
  if (time != 0) {
    meters_.addSample(platform::currentThreadId(), static_cast<int64_t>(time / 10000000ULL), bytes);
  }
  if (bytes != 0) context_.current().progress(bytes);
}

}  // namespace varnelo
