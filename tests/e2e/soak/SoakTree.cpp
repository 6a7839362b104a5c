#include "SoakTree.h"

#include <dirent.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <regex>

namespace varnelo::soak {
namespace {

void walk(const std::string& root, const std::string& rel, Tree& out) {
  const std::string folder = rel.empty() ? root : root + "/" + rel;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    const std::string child = rel.empty() ? name : rel + "/" + name;
    const std::string full = root + "/" + child;
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0) continue;  // gone while we looked
    if (S_ISDIR(st.st_mode)) {
      out[child] = "D";
      walk(root, child, out);
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(full, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), {}};
      out[child] = fileEntry(bytes);
    }
  }
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string sha1Hex(const std::string& bytes) {
  unsigned char d[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) out += {hex[c >> 4], hex[c & 15]};
  return out;
}

std::string fileEntry(const std::string& content) {
  return "F " + std::to_string(content.size()) + " " + sha1Hex(content);
}

std::string entryHash(const std::string& what) {
  const size_t space = what.rfind(' ');
  return what.size() > 2 && what[0] == 'F' && space != std::string::npos ? what.substr(space + 1)
                                                                         : std::string();
}

Tree readLocalTree(const std::string& root) {
  Tree out;
  walk(root, "", out);
  return out;
}

std::string foldCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool isUnsupported(const std::string& path, const std::set<std::string>& unsupported) {
  for (std::string p = path; !p.empty(); p = parentOf(p)) {
    if (unsupported.count(p)) return true;
  }
  return false;
}

std::vector<std::string> compareWithRemote(const Tree& local, const Tree& remote,
                                           const std::set<std::string>& unsupported) {
  // Local names per folder, to follow a remote path one component at a time.
  std::map<std::string, std::vector<std::string>> children;
  for (const auto& [path, what] : local) {
    const size_t slash = path.rfind('/');
    children[parentOf(path)].push_back(slash == std::string::npos ? path : path.substr(slash + 1));
  }
  // The local path that stands for a remote one: the same name where it
  // exists, else its only case variant (a case-only rename is not sent).
  // Empty when none does; `*spelled` is then the remote path as this
  // computer would spell it, up to the first name it does not hold.
  auto resolve = [&](const std::string& remotePath, std::string* spelled) -> std::string {
    std::string at;
    for (size_t start = 0; start <= remotePath.size();) {
      size_t slash = remotePath.find('/', start);
      if (slash == std::string::npos) slash = remotePath.size();
      const std::string name = remotePath.substr(start, slash - start);
      const std::string exact = at.empty() ? name : at + "/" + name;
      // A refused twin stands for nothing, even under the service's spelling.
      if (!local.count(exact) || isUnsupported(exact, unsupported)) {
        std::string variant;
        int found = 0;
        for (const std::string& n : children[at]) {
          // A twin the engine reported unsupported stands for nothing.
          if (foldCase(n) == foldCase(name) &&
              !isUnsupported(at.empty() ? n : at + "/" + n, unsupported)) {
            variant = n;
            ++found;
          }
        }
        if (found != 1) {
          *spelled = found == 0 ? exact + remotePath.substr(slash) : remotePath;
          return std::string();
        }
        at = at.empty() ? variant : at + "/" + variant;
      } else {
        at = exact;
      }
      start = slash + 1;
    }
    return at;
  };
  std::set<std::string> matched;
  std::vector<std::string> problems;
  for (const auto& [path, what] : remote) {
    std::string spelled;
    const std::string mine = resolve(path, &spelled);
    if (mine.empty()) {
      // Refused here under this computer's spelling of the folders above
      // (a case-only rename of one of them is not sent).
      if (!isUnsupported(path, unsupported) && !isUnsupported(spelled, unsupported))
        problems.push_back(path + ": only on the service (" + what + ")");
      continue;
    }
    matched.insert(mine);
    const std::string& have = local.at(mine);
    if (have != what)
      problems.push_back((mine == path ? path : path + " (here " + mine + ")") + ": local " + have +
                         ", remote " + what);
  }
  for (const auto& [path, what] : local) {
    if (!matched.count(path) && !isUnsupported(path, unsupported))
      problems.push_back(path + ": only local (" + what + ")");
  }
  return problems;
}

std::string nameBeforeConflict(const std::string& name) {
  static const std::regex marker(R"( \(Conflicted copy \d{4}-\d\d-\d\d_\d\d-\d\d-\d\d( \d+)?\))");
  std::smatch m;
  if (!std::regex_search(name, m, marker)) return name;
  return m.prefix().str() + m.suffix().str();
}

}  // namespace varnelo::soak
