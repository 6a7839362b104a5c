// The sync folder's entry among the places of the file manager and the file
// dialogs: a line of the GTK bookmarks file ($XDG_CONFIG_HOME/gtk-3.0/bookmarks,
// one "file:///path label" per line). Added when the sync folder is set,
// removed when the account is unlinked; every other line of the file is
// kept byte for byte, and an entry the user has since changed (another
// label) is theirs and left alone. The file is replaced atomically.
// Thread safe (no shared state); the file manager may rewrite the file at
// any time, so two writers can still race (the last rename wins).
//
//   platform::places::addBookmark(platform::places::defaultBookmarksFile(), "/home/u/Varnelo",
//                                 "Varnelo");
#pragma once

#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform::places {

// $XDG_CONFIG_HOME (when absolute) or ~/.config.
std::string configHome();
// configHome() + "/gtk-3.0/bookmarks".
std::string defaultBookmarksFile();

// "file://" + the path with every byte outside RFC 3986's unreserved set
// and "/" percent-encoded. The path must be absolute.
std::string fileUri(std::string_view absolutePath);
// The path of a "file://" address ("file:///p" or "file://localhost/p"),
// percent-decoding it; false for anything else.
bool pathFromFileUri(std::string_view uri, std::string& path);

enum class PlaceResult {
  Changed,    // the line was added or removed
  Unchanged,  // it was already there (add) or already gone (remove)
  NotOurs,    // the folder has a line with another label: left alone
};

// Adds "fileUri(folder) label" at the end unless the folder is listed.
// invalid_argument: a relative folder, or a line break in either text.
std::error_code addBookmark(const std::string& bookmarksFile, const std::string& folder,
                            const std::string& label, PlaceResult* result = nullptr);
// Removes the folder's line only while it still carries `label`.
std::error_code removeBookmark(const std::string& bookmarksFile, const std::string& folder,
                               const std::string& label, PlaceResult* result = nullptr);

// Makes "fileUri(folder) label" the one line of ours: every line carrying
// one of `ownLabels` (labels we wrote before, `label` among them) for
// another folder goes, and the folder's line is added unless the folder is
// listed already (a line of the user's with another label is theirs: kept,
// and nothing is added). Lines with other labels are kept byte for byte.
std::error_code replaceOwnBookmark(const std::string& bookmarksFile, const std::string& folder,
                                   const std::string& label,
                                   const std::vector<std::string>& ownLabels,
                                   PlaceResult* result = nullptr);

}  // namespace platform::places
