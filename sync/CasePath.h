// Finding a file on a case-sensitive disk from a path whose letter case was
// lost (the chunk index stores lower-cased paths, as the service and the
// journal compare names without case). Used by the chunk cache when it hands
// out chunk locations. Thread safe (reads the file system only).
#pragma once

#include <string>
#include <string_view>

namespace chunkcache {

// The existing entry that `path` (absolute) names when letter case is
// ignored, component by component; an exact match is preferred at each
// level. Empty when there is none.
std::string resolvePathIgnoringCase(std::string_view path);

}  // namespace chunkcache
