// SyncFilter decides whether a local path takes part in synchronisation. It
// keeps out temporary and editor files, names Windows reserves for devices
// (a peer PC could not create them), paths too long for other peers, entries
// that are neither regular files nor folders (links, sockets, FIFOs,
// devices: never synced, never followed), anything inside a dot folder, and
// everything under the folders the user excluded.
//
// Asked by the file syncer before it queues a change, by the upload path
// before it uploads and by the download path before it writes. Thread safe:
// accept() runs on the monitor's thread, the sync thread and the I/O workers
// at once while the file syncer rebuilds the folder set.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace varnelo::sync {

class SyncFilter {
 public:
  static constexpr size_t kPatternCount = 58;
  // A path of this many UTF-16 units or more is refused as unsupported.
  static constexpr size_t kMaxPathUnits = 248;

  // The ignore patterns, in the order they are tried. The change monitor
  // gets the same table as its ignore list.
  static const std::array<const char*, kPatternCount>& patterns();

  // True when `path` (a full local UTF-8 path) is synchronised. When it is
  // refused for its form (too long, not UTF-8, a name from the pattern table)
  // `*unsupported` is set so callers can report it; it stays clear for
  // links and special files and for excluded folders.
  bool accept(std::string_view path, bool* unsupported = nullptr) const;
  // accept() for a path whose kind the caller has just read: an entry of a
  // folder listing, or None for a name the listing does not hold. The test
  // for links and special files takes that kind instead of looking at the
  // path again (a scan asks this once for every entry of the sync folder).
  bool acceptListed(std::string_view path, platform::files::EntryType kind,
                    bool* unsupported = nullptr) const;

  // False when `path` is too long for other peers or not UTF-8.
  static bool hasStorableForm(std::string_view path);
  // True when `path` is refused for its form alone: a file of the user's
  // that would take part but cannot be stored, unlike the pattern table's
  // temporary and system files and the excluded folders, left out on purpose.
  bool refusesOnlyForItsForm(std::string_view path) const;

  // Installs the sync folder and the user's excluded server folders
  // ("home/Photos" or "/home/Photos"), each turned into the local folder it
  // names below `localRoot`. Replaces what was set before. Once the sync
  // folder is known, the dot-folder rules look only at the part of a path
  // below it.
  void setFolders(std::string_view localRoot,
                  const std::vector<std::string>& excludedServerFolders);
  std::vector<std::string> excludedFolders() const;

  // localRoot (without a trailing "/") + the server path without its
  // leading "home" or "/home".
  static std::string localPathOfServerFolder(std::string_view localRoot,
                                             std::string_view serverPath);

 private:
  // accept() and acceptListed(); `kind`, when given, is what the path was
  // just listed as.
  bool verdict(std::string_view path, bool* unsupported,
               std::optional<platform::files::EntryType> kind) const;
  // accept() past the form check: links and special files (by `kind` when
  // given), the pattern table (which sets `unsupported`) and the excluded
  // folders.
  bool acceptsBeyondForm(std::string_view path, bool& unsupported,
                         std::optional<platform::files::EntryType> kind = {}) const;
  // A link, device, pipe or socket (never followed nor synced).
  static bool isSpecialFile(std::string_view path);
  // The index in the pattern table of the first pattern that the name or
  // the path below the root matches, or -1.
  int firstMatchingPattern(std::string_view path) const;
  bool isExcluded(std::string_view path) const;
  // The part of `path` below the sync folder (a view into `path`).
  std::string_view belowRoot(std::string_view path) const;

  mutable std::mutex mutex_;  // guards root_ and excluded_ (read by every accept)
  std::string root_;
  std::vector<std::string> excluded_;
};

}  // namespace varnelo::sync
