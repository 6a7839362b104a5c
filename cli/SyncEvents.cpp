#include "SyncEvents.h"

#include "Messages.h"

namespace varnelo::cli {

SyncEvents::SyncEvents(std::string root) : root_(std::move(root)) {}

std::string SyncEvents::relative(const char* path) const {
  if (!path) return "";
  std::string text = path;
  if (text.size() > root_.size() && text.compare(0, root_.size(), root_) == 0 &&
      text[root_.size()] == '/') {
    return text.substr(root_.size() + 1);
  }
  return text;
}

// Small files and folder changes end with a result but no uploaded()
// report, so the counters follow the results, sorted by the direction that
// the file's last "uploading" or "downloading" state named.
void SyncEvents::downloaded(const char*) {}

void SyncEvents::uploaded(const char*) {}

void SyncEvents::statusChanged(int32_t state) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
}

void SyncEvents::fileStateChanged(const char* path, int32_t state) {
  std::string name = relative(path);
  std::lock_guard<std::mutex> lock(mutex_);
  if (state == kFileUploading || state == kFileDownloading) {
    direction_[name] = state;
  } else if (state == kFileConflict) {
    lines_.push_back("conflict " + name + ": both sides changed; both versions were kept");
  }
}

void SyncEvents::result(int32_t code, const char* path) {
  std::string name = relative(path);
  std::lock_guard<std::mutex> lock(mutex_);
  // Only failures are kept: a success ends the path's entry, so a sync of
  // many files holds no more than what failed.
  if (isFileSuccess(code)) {
    lastResult_.erase(name);
  } else {
    lastResult_[name] = code;
  }
  int32_t direction = kFileUploading;
  if (auto it = direction_.find(name); it != direction_.end()) {
    direction = it->second;
    direction_.erase(it);
  }
  if (isFileSuccess(code)) {
    if (name.empty()) return;
    if (direction == kFileDownloading) {
      platform::files::EntryInfo info;
      if (!platform::files::stat(path, info)) remember(name, info);
      ++downloaded_;
      lines_.push_back("down " + name);
    } else if (!isEchoOfDownload(code, name, path)) {
      ++uploaded_;
      lines_.push_back("up   " + name);
    }
  } else {
    lines_.push_back("failed " + (name.empty() ? std::string("sync") : name) + ": " + reason(code));
  }
}

bool SyncEvents::isEchoOfDownload(int32_t code, const std::string& name, const char* path) {
  auto it = arrived_.find(name);
  if (it == arrived_.end()) return false;
  const platform::files::EntryInfo placed = it->second.placed;
  arrived_.erase(it);
  platform::files::EntryInfo now;
  return code == -108 && !platform::files::stat(path, now) && now.type == placed.type &&
         now.size == placed.size && now.lastWrite == placed.lastWrite;
}

void SyncEvents::remember(const std::string& name, const platform::files::EntryInfo& placed) {
  arrived_[name] = Arrival{placed, ++arrivals_};
  arrivalOrder_.emplace_back(name, arrivals_);
  while (arrivalOrder_.size() > kArrivalsKept) {
    const auto& [oldest, serial] = arrivalOrder_.front();
    // A name placed again since keeps its newer record.
    if (auto it = arrived_.find(oldest); it != arrived_.end() && it->second.serial == serial)
      arrived_.erase(it);
    arrivalOrder_.pop_front();
  }
}

std::vector<std::string> SyncEvents::takeLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  out.swap(lines_);
  return out;
}

std::vector<std::string> SyncEvents::failures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [name, code] : lastResult_) {
    if (!isFileSuccess(code)) out.push_back((name.empty() ? "(sync)" : name) + ": " + reason(code));
  }
  return out;
}

int32_t SyncEvents::engineState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

uint64_t SyncEvents::uploadedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploaded_;
}

uint64_t SyncEvents::downloadedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return downloaded_;
}

}  // namespace varnelo::cli
