// One local folder's entries as the transfer paths see them: sorted by their
// lower-cased name, with names that differ only in letter case split off.
// The service and the journal compare names without case, so of such twins
// only one takes part: the one a chooser names (the sync paths' chooser
// keeps the twin the journal knows, TwinBinding.h), else the first in byte
// order. The others are reported as unsupported and never uploaded,
// overwritten or deleted. Used on the sync thread; pure apart from reading
// the folder and what the chooser does.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/files.h"

namespace varnelo {

struct LocalListing {
  std::vector<platform::files::DirEntry> entries;  // sorted by nameKey, one per key
  std::vector<std::string> twins;                  // names shadowed by another twin
  // Lower-cased names of which no twin takes part (the chooser could not
  // tell which one is synced): their journal rows must be left alone.
  std::vector<std::string> held;
  // Those of `held` whose chooser could not ask the service: decided again later.
  std::vector<std::string> undecided;

  // The entry whose name equals `name` without regard to case, or null.
  const platform::files::DirEntry* find(std::string_view name) const;
  // True when `name`, without regard to case, is one of the held names.
  bool isHeld(std::string_view name) const;
  // True when it is one of the undecided names.
  bool isUndecided(std::string_view name) const;
  // The shadowed twins of `name` (names equal to it without regard to case).
  std::vector<std::string> twinsOf(std::string_view name) const;
};

// Picks, of two or more entries of `folder` whose names differ only in case
// (given in byte order), the one that takes part: its index, -1 for none, or
// kTwinUndecided for none until the service can be asked again.
inline constexpr int kTwinUndecided = -2;
using TwinChooser = std::function<int(const std::string& folder,
                                      const std::vector<const platform::files::DirEntry*>& twins)>;

// Lists `folder`. Entries that are neither files nor folders (links, sockets,
// devices) are left out: they never take part. Without a chooser the first
// twin in byte order takes part.
std::error_code listLocalFolder(const std::string& folder, LocalListing& out,
                                const TwinChooser& choose = {});
// listLocalFolder() over entries read already (platform::files::listDirectory's).
void arrangeLocalFolder(const std::string& folder, std::vector<platform::files::DirEntry> all,
                        LocalListing& out, const TwinChooser& choose = {});

// Answers, for single paths handed to the upload path, whether the path or
// one of its folders is a shadowed case twin. Folder listings are kept while
// the folder's modification time is unchanged (and taken well after the folder's
// last change), so queueing every file of a large folder costs one
// listing, not one per file. Used by the sync thread only.
class CaseTwinCache {
 public:
  // `undecided` (when given) is set when the path is held only because the
  // chooser could not tell which twin is synced: a passing condition, to be
  // tried again, not an unsupported name.
  bool isShadowed(const std::string& localRoot, const std::string& localPath,
                  const TwinChooser& choose = {}, bool* undecided = nullptr);

  // True when `localPath` has a case twin beside it that is left out (or
  // waits to be decided).
  bool hasShadowedTwin(const std::string& localPath, const TwinChooser& choose = {});

 private:
  struct Folder {
    platform::FileTime modified = 0;
    platform::FileTime listedAt = 0;
    std::unordered_set<std::string> shadowed;   // names that lost to an earlier twin
    std::unordered_set<std::string> undecided;  // name keys of groups none of which takes part
  };
  const Folder* folder(const std::string& path, const TwinChooser& choose);

  std::unordered_map<std::string, Folder> folders_;
};

}  // namespace varnelo
