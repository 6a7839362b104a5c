#include "HeldText.h"

namespace varnelo::cli {

std::string heldLine(const HeldPath& held) {
  // Both labels are padded to one width, so the paths line up.
  std::string line = held.deletedHere ? "deleted here:           " : "deleted on the service: ";
  line += held.path;
  if (held.files > 1) line += " (" + std::to_string(held.files) + " files)";
  return line;
}

std::vector<std::string> heldLines(const std::vector<HeldPath>& held, size_t limit) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < held.size() && i < limit; ++i) lines.push_back(heldLine(held[i]));
  if (held.size() > limit)
    lines.push_back("... and " + std::to_string(held.size() - limit) + " more");
  return lines;
}

}  // namespace varnelo::cli
