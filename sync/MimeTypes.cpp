#include "MimeTypes.h"

#include <fnmatch.h>

#include <fstream>

#include "platform/text.h"

namespace varnelo {

namespace {

bool hasWildcard(std::string_view s) {
  return s.find_first_of("*?[") != std::string_view::npos;
}

}  // namespace

MimeTypes::MimeTypes(const std::string& globsPath) {
  std::ifstream in(globsPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t a = line.find(':');
    size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    size_t c = line.find(':', b + 1);
    Glob g;
    g.weight = std::atoi(line.substr(0, a).c_str());
    g.type = line.substr(a + 1, b - a - 1);
    g.pattern = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
    if (c != std::string::npos) g.caseSensitive = line.find("cs", c + 1) != std::string::npos;
    if (g.type.empty() || g.pattern.empty() || g.type == "__NOGLOBS__") continue;
    std::string key = g.caseSensitive ? g.pattern : platform::asciiLower(g.pattern);
    if (key.size() > 2 && key[0] == '*' && key[1] == '.' && !hasWildcard(key.substr(1))) {
      suffixes_[key.substr(1)].push_back(std::move(g));
    } else if (!hasWildcard(key)) {
      literals_[key].push_back(std::move(g));
    } else {
      others_.push_back(std::move(g));
    }
  }
}

void MimeTypes::consider(const Glob& g, const Glob*& best) const {
  if (!best || g.weight > best->weight ||
      (g.weight == best->weight && g.pattern.size() > best->pattern.size())) {
    best = &g;
  }
}

std::string MimeTypes::lookup(std::string_view fileName) const {
  const std::string exact(fileName);
  const std::string lower = platform::asciiLower(fileName);
  const Glob* best = nullptr;
  auto tryKey = [&](const std::unordered_map<std::string, std::vector<Glob>>& table,
                    const std::string& exactKey, const std::string& lowerKey) {
    for (const std::string* key : {&exactKey, &lowerKey}) {
      auto it = table.find(*key);
      if (it == table.end()) continue;
      for (const Glob& g : it->second) {
        // A case-sensitive glob only counts against the name as written.
        if (g.caseSensitive != (key == &exactKey)) continue;
        consider(g, best);
      }
    }
  };
  tryKey(literals_, exact, lower);
  for (size_t dot = exact.find('.'); dot != std::string::npos; dot = exact.find('.', dot + 1)) {
    tryKey(suffixes_, exact.substr(dot), lower.substr(dot));
  }
  for (const Glob& g : others_) {
    int flags = g.caseSensitive ? 0 : FNM_CASEFOLD;
    if (fnmatch(g.pattern.c_str(), exact.c_str(), flags) == 0) consider(g, best);
  }
  return best ? best->type : "unknown";
}

const MimeTypes& MimeTypes::system() {
  static const MimeTypes table("/usr/share/mime/globs2");
  return table;
}

}  // namespace varnelo
