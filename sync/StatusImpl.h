// The status object the engine hands out: reads the speed meters and the
// current-transfer record under their locks. It shares ownership of what it
// reads, so it stays valid after the sync that fed it has ended.
#pragma once

#include <memory>
#include <string>

#include "SpeedMeter.h"
#include "TransferRecord.h"
#include "varnelo/IVarneloStatus.h"

namespace varnelo {

class StatusImpl final : public IVarneloStatus {
 public:
  StatusImpl(std::shared_ptr<const MeterSet> uploads, std::shared_ptr<const MeterSet> downloads,
             std::shared_ptr<const TransferRecord> current)
      : uploads_(std::move(uploads)),
        downloads_(std::move(downloads)),
        current_(std::move(current)) {}

  void release() override { delete this; }
  uint64_t uploadSpeed() override;
  uint64_t downloadSpeed() override;
  const char* currentFile() override;
  uint64_t currentTotal() override;
  uint64_t currentDone() override;

 private:
  ~StatusImpl() override = default;

  std::shared_ptr<const MeterSet> uploads_;
  std::shared_ptr<const MeterSet> downloads_;
  std::shared_ptr<const TransferRecord> current_;
  std::string currentName_;  // the copy currentFile() hands out
};

}  // namespace varnelo
