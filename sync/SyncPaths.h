// The spellings of one synchronised path: the local path below the sync
// folder and the remote path ("home/" + the relative path; the journal's is
// the same lower-cased, sync::journalPathOf), plus the checks that keep names sent by
// the service from ever forming a path outside the sync folder. Pure
// functions, thread safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnelo {

inline constexpr const char* kRemoteRoot = "home";

// A remote name may become a local name only when it is not empty, "." or
// "..", holds no "/", "\" or NUL, and is valid UTF-8.
bool isSafeRemoteName(std::string_view name);

// The path below `localRoot` ("" for the root itself), or nothing when
// `localPath` is not the root or inside it.
std::optional<std::string> relativeToRoot(std::string_view localRoot, std::string_view localPath);

// "home" or "home/<relative>"; nothing when the path is outside the root.
std::optional<std::string> remotePathOf(std::string_view localRoot, std::string_view localPath);

// Joins a parent remote path and a child name with "/".
std::string childPath(std::string_view parent, std::string_view name);

// Lower-cased key under which names are compared and sorted.
std::string nameKey(std::string_view name);

}  // namespace varnelo
