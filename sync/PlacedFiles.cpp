#include "PlacedFiles.h"

#include "PlaceFile.h"

namespace varnelo {

namespace files = platform::files;

void PlacedFiles::note(const std::string& path, const files::EntryInfo& state) {
  std::lock_guard lock(mutex_);
  if (states_.size() >= kLimit) states_.clear();
  states_[path] = state;
}

bool PlacedFiles::holdsAsPlaced(const std::string& path) const {
  files::EntryInfo noted;
  {
    std::lock_guard lock(mutex_);
    auto it = states_.find(path);
    if (it == states_.end()) return false;
    noted = it->second;
  }
  files::EntryInfo now;
  return !files::stat(path, now) && downloader::sameState(now, noted);
}

}  // namespace varnelo
