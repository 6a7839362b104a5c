#include "CasePath.h"

#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace chunkcache {

std::string resolvePathIgnoringCase(std::string_view path) {
  const std::string whole(path);
  if (platform::files::exists(whole)) return whole;
  if (path.empty() || path.front() != '/') return {};

  std::string resolved;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    std::string candidate = resolved + "/" + std::string(part);
    if (!platform::files::exists(candidate)) {
      std::vector<platform::files::DirEntry> entries;
      if (platform::files::listDirectory(resolved.empty() ? "/" : resolved, entries)) return {};
      candidate.clear();
      for (const auto& e : entries) {
        if (platform::equalsIgnoreCase(e.name, part)) {
          candidate = resolved + "/" + e.name;
          break;
        }
      }
      if (candidate.empty()) return {};
    }
    resolved = std::move(candidate);
  }
  return resolved.empty() ? std::string("/") : resolved;
}

}  // namespace chunkcache
