#include "FolderPrefetch.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "Log.h"
#include "SyncFilter.h"
#include "SyncPaths.h"
#include "TempNames.h"

namespace varnelo {

namespace files = platform::files;

namespace {

// The next component of `path` from `at` on (past any "/"), advancing `at`.
std::string_view nextComponent(std::string_view path, size_t& at) {
  while (at < path.size() && path[at] == '/') ++at;
  const size_t end = std::min(path.find('/', at), path.size());
  const std::string_view part = path.substr(at, end - at);
  at = end;
  return part;
}

// Siblings in the walk's order: lower-cased name, then name.
bool siblingBefore(std::string_view a, std::string_view b) {
  const std::string ka = nameKey(a), kb = nameKey(b);
  if (ka != kb) return ka < kb;
  return a < b;
}

}  // namespace

bool FolderPrefetch::walksBefore(std::string_view a, std::string_view b) {
  size_t ia = 0, ib = 0;
  for (;;) {
    const std::string_view ca = nextComponent(a, ia), cb = nextComponent(b, ib);
    if (ca.empty() || cb.empty()) return ca.empty() && !cb.empty();  // an ancestor first
    if (ca != cb) return siblingBefore(ca, cb);
  }
}

FolderPrefetch::FolderPrefetch(std::string root, const sync::SyncFilter& filter)
    : root_(std::move(root)), filter_(filter), reader_([this] { readAll(); }) {}

FolderPrefetch::~FolderPrefetch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

std::optional<std::vector<files::DirEntry>> FolderPrefetch::take(const std::string& folder) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!ready_.empty()) {
      Listed& front = ready_.front();
      if (front.folder == folder) {
        std::vector<files::DirEntry> entries = std::move(front.entries);
        readyEntries_ -= entries.size();
        ready_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return entries;
      }
      // The reader is past `folder`: it did not enter it, or could not list it.
      if (!walksBefore(front.folder, folder)) return std::nullopt;
      readyEntries_ -= front.entries.size();  // a folder the scan did not enter
      ready_.pop_front();
      changed_.notify_all();
    }
    if (done_) return std::nullopt;
    // The reader has not come to `folder` yet; it has room, so it goes on.
    changed_.wait(lock);
  }
}

void FolderPrefetch::readAll() {
  try {
    read();
  } catch (const std::exception& e) {
    // Out of memory, most likely: the scan lists the rest itself.
    log_write(kLogError, kModuleSync, "reading folders ahead stopped: %s", e.what());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  changed_.notify_all();
}

bool FolderPrefetch::push(Listed listed) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A folder larger than the bound on its own still goes in, alone.
  changed_.wait(lock, [&] {
    return stop_ || ready_.empty() ||
           (ready_.size() < kMaxFolders && readyEntries_ + listed.entries.size() <= kMaxEntries);
  });
  if (stop_) return false;
  readyEntries_ += listed.entries.size();
  ready_.push_back(std::move(listed));
  lock.unlock();
  changed_.notify_all();
  return true;
}

void FolderPrefetch::read() {
  // Depth first: the folders still to read, the next one last.
  std::vector<std::string> pending{root_};
  std::vector<std::string> subfolders;
  while (!pending.empty()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    Listed listed{std::move(pending.back()), {}};
    pending.pop_back();
    if (files::listDirectory(listed.folder, listed.entries)) {
      continue;  // the scan lists it itself, and says why it cannot
    }
    subfolders.clear();
    for (const files::DirEntry& e : listed.entries) {
      if (e.info.type != files::EntryType::Directory || e.name.starts_with('.') ||
          e.name == kTempFolderName)
        continue;
      std::string path = files::joinPath(listed.folder, e.name);
      if (filter_.acceptListed(path, files::EntryType::Directory)) {
        subfolders.push_back(std::move(path));
      }
    }
    std::sort(subfolders.begin(), subfolders.end(), [](const auto& a, const auto& b) {
      return siblingBefore(files::fileName(b), files::fileName(a));  // the first one last
    });
    std::move(subfolders.begin(), subfolders.end(), std::back_inserter(pending));
    if (!push(std::move(listed))) return;
  }
}

}  // namespace varnelo
