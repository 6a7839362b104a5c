// VolumesImpl and ExcludeDirsImpl: the copies of the volume table and of the
// excluded-folder list that the engine hands out (IVolumes, IExcludeDirs).
// Each owns its texts; destroyed by release(). One thread at a time.
#pragma once

#include <string>
#include <vector>

#include "ConfigInfo.h"
#include "varnelo/IExcludeDirs.h"
#include "varnelo/IVolumes.h"

namespace varnelo::sync {

class VolumesImpl final : public IVolumes {
 public:
  explicit VolumesImpl(std::vector<VolumeRecord> volumes) : volumes_(std::move(volumes)) {}
  void release() override { delete this; }
  uint32_t count() override { return static_cast<uint32_t>(volumes_.size()); }
  void at(uint32_t index, VolumeInfo& out) override {
    if (index >= volumes_.size()) return;
    const VolumeRecord& v = volumes_[index];
    out = {v.serverPath.c_str(), v.localPath.c_str(), v.name.c_str()};
  }

 private:
  ~VolumesImpl() = default;
  const std::vector<VolumeRecord> volumes_;
};

class ExcludeDirsImpl final : public IExcludeDirs {
 public:
  explicit ExcludeDirsImpl(std::vector<std::string> dirs) : dirs_(std::move(dirs)) {}
  void release() override { delete this; }
  uint32_t count() override { return static_cast<uint32_t>(dirs_.size()); }
  const char* at(uint32_t index) override {
    return index < dirs_.size() ? dirs_[index].c_str() : nullptr;
  }

 private:
  ~ExcludeDirsImpl() = default;
  const std::vector<std::string> dirs_;
};

}  // namespace varnelo::sync
