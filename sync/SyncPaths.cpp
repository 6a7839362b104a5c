#include "SyncPaths.h"

#include "platform/text.h"

namespace varnelo {

bool isSafeRemoteName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) return false;
  return platform::isValidUtf8(name);
}

std::optional<std::string> relativeToRoot(std::string_view localRoot, std::string_view localPath) {
  while (localRoot.size() > 1 && localRoot.back() == '/') localRoot.remove_suffix(1);
  while (localPath.size() > 1 && localPath.back() == '/') localPath.remove_suffix(1);
  if (localPath == localRoot) return std::string();
  if (localPath.size() <= localRoot.size() || localPath.substr(0, localRoot.size()) != localRoot)
    return std::nullopt;
  std::string_view rest = localPath.substr(localRoot.size());
  if (localRoot != "/") {
    if (rest.front() != '/') return std::nullopt;
    rest.remove_prefix(1);
  }
  // A relative part that climbs out (or is not a plain path) is refused.
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    std::string_view part =
        rest.substr(start, end == std::string_view::npos ? rest.npos : end - start);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return std::string(rest);
}

std::optional<std::string> remotePathOf(std::string_view localRoot, std::string_view localPath) {
  auto rel = relativeToRoot(localRoot, localPath);
  if (!rel) return std::nullopt;
  return rel->empty() ? std::string(kRemoteRoot) : childPath(kRemoteRoot, *rel);
}

std::string journalPathOf(std::string_view remotePath) {
  return platform::asciiLower(remotePath);
}

std::string childPath(std::string_view parent, std::string_view name) {
  std::string out(parent);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

std::string nameKey(std::string_view name) {
  return platform::asciiLower(name);
}

}  // namespace varnelo
