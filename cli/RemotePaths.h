// Spelling of remote paths for the commands: excluded folders and the
// remote path of a local file for share links. Pure; any thread. Used by
// the exclude and link commands and the unit tests.
#pragma once

#include <string>

namespace varnelo::cli {

// "home/Photos" for "Photos", "/home/Photos/", "home/Photos" ...; empty when
// the text names no folder below home or has "." or ".." components.
std::string normalizeRemoteFolder(const std::string& path);

// The remote path ("home" or "home/a/b.txt") of `localPath` (absolute or
// relative to `cwd`) inside the sync folder `root`; empty when it lies
// outside.
std::string remotePathOf(const std::string& root, const std::string& localPath,
                         const std::string& cwd);

}  // namespace varnelo::cli
