// The local scan's folder listings, read ahead on a thread of their own.
//
// A scan of a large sync folder spends about half its time in the kernel,
// reading folders and the status of every entry, and the other half
// comparing what it found with the journal. A reader thread walks the sync
// folder in the scan's own order (depth first, the entries of a folder in
// the order of their lower-cased names) and keeps the listings of the next
// folders ready, so that both halves run at once.
//
//   FolderPrefetch ahead(root, filter);
//   ... for each folder the scan enters, in its order:
//   auto entries = ahead.take(folder);  // nothing: the scan lists it itself
//
// Listings of folders that the scan passes over are dropped as it goes past
// them; a folder that the reader could not list, or passed over itself, is
// listed by the scan. A listing read ahead is at most a bounded number of
// folders older than the one the scan would have read. The scan starts with
// the whole tree watched, so a change made between the two is reported by
// the watch, like any change made after the scan read the folder.
//
// take() from one thread (the sync thread); the destructor stops the reader
// and joins it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace varnelo::sync {
class SyncFilter;
}

namespace varnelo {

class FolderPrefetch {
 public:
  // What the reader holds ready at most: folders, and entries over them.
  static constexpr size_t kMaxFolders = 256;
  static constexpr size_t kMaxEntries = 65536;

  // Starts reading at `root` (the path as the scan names it). Folders that
  // the filter refuses, dot folders and the temporary folder are not entered.
  FolderPrefetch(std::string root, const sync::SyncFilter& filter);
  ~FolderPrefetch();
  FolderPrefetch(const FolderPrefetch&) = delete;
  FolderPrefetch& operator=(const FolderPrefetch&) = delete;

  // The entries of `folder` as the reader found them (unsorted, as
  // platform::files::listDirectory gives them), or nothing when the scan
  // must list it itself. Drops every listing that comes before `folder` in
  // the walk's order.
  std::optional<std::vector<platform::files::DirEntry>> take(const std::string& folder);

  // True when folder `a` comes before folder `b` in the walk's order: an
  // ancestor before its descendants, siblings by lower-cased name and then
  // by name. Both below the same root.
  static bool walksBefore(std::string_view a, std::string_view b);

 private:
  struct Listed {
    std::string folder;
    std::vector<platform::files::DirEntry> entries;
  };
  // Reader thread: the walk, then done_ (also when the walk threw).
  void readAll();
  void read();
  // Reader thread: waits for room; false when stopping.
  bool push(Listed listed);

  const std::string root_;
  const sync::SyncFilter& filter_;
  std::mutex mutex_;  // guards ready_, readyEntries_, done_ and stop_
  std::condition_variable changed_;
  std::deque<Listed> ready_;
  size_t readyEntries_ = 0;
  bool done_ = false;  // the reader has ended
  bool stop_ = false;
  std::thread reader_;  // last: started once everything above is set up
};

}  // namespace varnelo
