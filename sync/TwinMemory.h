// The case twin last found to keep the binding to the journal row and the
// remote entry, per folder and shared name. When the journal alone can no
// longer tell the synced twin (an edit changed its size and time, or its
// synced children went elsewhere), the remembered one stays the synced one
// as long as it is there, instead of every twin being left out until a scan
// weighs the row. In memory for one sync run; bounded. Sync thread only.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace varnelo {

class TwinMemory {
 public:
  // `key` is the twins' shared lower-cased name.
  void remember(const std::string& folder, const std::string& key, const std::string& name) {
    if (chosen_.size() > kLimit) chosen_.clear();
    chosen_[folder + '\n' + key] = name;
  }
  // The index in `twins` of the twin last remembered, or -1.
  int recall(const std::string& folder, const std::string& key,
             const std::vector<const platform::files::DirEntry*>& twins) const {
    auto it = chosen_.find(folder + '\n' + key);
    if (it == chosen_.end()) return -1;
    for (size_t i = 0; i < twins.size(); ++i) {
      if (twins[i]->name == it->second) return static_cast<int>(i);
    }
    return -1;
  }

 private:
  static constexpr size_t kLimit = 4096;
  std::unordered_map<std::string, std::string> chosen_;
};

}  // namespace varnelo
