#include "PlacedFiles.h"

#include "PlaceFile.h"

namespace varnelo {

namespace files = platform::files;

void PlacedFiles::note(const std::string& path, const files::EntryInfo& state) {
  std::lock_guard lock(mutex_);
  if (newer_.size() >= kLimit / 2) {
    older_ = std::move(newer_);
    newer_.clear();
  }
  newer_[path] = state;
}

bool PlacedFiles::holdsAsPlaced(const std::string& path) const {
  files::EntryInfo noted;
  {
    std::lock_guard lock(mutex_);
    auto it = newer_.find(path);
    if (it == newer_.end()) {
      it = older_.find(path);
      if (it == older_.end()) return false;
    }
    noted = it->second;
  }
  files::EntryInfo now;
  return !files::stat(path, now) && downloader::sameFile(now, noted);
}

}  // namespace varnelo
