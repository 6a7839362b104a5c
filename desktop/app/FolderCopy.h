// "-sendto"'s copy: files and folders into a folder of the sync folder, in
// order, stopping at the first path that does not exist. An existing file
// of the same name in the target is never overwritten (it is skipped with a
// log line). Any thread; blocks while copying.
#pragma once

#include <string>
#include <vector>

namespace varnelo::desktop {

// The number of paths copied (completely or in part).
int copyInto(const std::vector<std::string>& paths, const std::string& targetFolder);

}  // namespace varnelo::desktop
