#include "RemotePaths.h"

#include <strings.h>

#include <filesystem>
#include <vector>

namespace varnelo::cli {

std::string normalizeRemoteFolder(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "." || part == "..") return "";
    if (!part.empty()) parts.push_back(part);
    start = end + 1;
  }
  if (!parts.empty() && strcasecmp(parts[0].c_str(), "home") == 0) parts.erase(parts.begin());
  if (parts.empty()) return "";
  std::string result = "home";
  for (const std::string& part : parts) result += "/" + part;
  return result;
}

std::string remotePathOf(const std::string& root, const std::string& localPath,
                         const std::string& cwd) {
  namespace fs = std::filesystem;
  fs::path target(localPath);
  if (target.is_relative()) target = fs::path(cwd) / target;
  target = target.lexically_normal();
  fs::path base = fs::path(root).lexically_normal();
  std::string rel = target.lexically_relative(base).generic_string();
  if (rel.empty() || rel == ".." || rel.rfind("../", 0) == 0) return "";
  while (!rel.empty() && rel.back() == '/') rel.pop_back();
  if (rel.empty() || rel == ".") return "home";
  return "home/" + rel;
}

}  // namespace varnelo::cli
