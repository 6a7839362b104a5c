// Filter option bits of the directory watcher: how a delayed handler tests
// each change against its patterns and its receiver before delivering it.
// Set per watcher (CDirectoryChangeWatcher::SetFilterOptions) and copied into
// every watch it starts. Constants only.
#pragma once

#include <cstdint>

namespace varnelo::monitor {

inline constexpr uint32_t WF_NO_PATTERNS = 1;     // include and exclude patterns are not tested
inline constexpr uint32_t WF_RELATIVE_PATH = 4;   // patterns see the path below the watched folder
inline constexpr uint32_t WF_NAME_ONLY = 8;       // patterns see the last path component (default)
inline constexpr uint32_t WF_HANDLER_FIRST = 16;  // AcceptChange is asked before the patterns
inline constexpr uint32_t WF_NO_HANDLER_TEST = 32;  // AcceptChange is never asked
inline constexpr uint32_t WF_NO_START_NOTICE = 64;  // no watch-started notifications
inline constexpr uint32_t WF_NO_STOP_NOTICE = 128;  // no watch-stopped notifications

// 0 means "nothing chosen" and becomes the default.
inline constexpr uint32_t normalizedFilterOptions(uint32_t options) {
  return options == 0 ? WF_NAME_ONLY : options;
}

}  // namespace varnelo::monitor
