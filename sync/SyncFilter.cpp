#include "SyncFilter.h"

#include "WildcardMatch.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varnelo::sync {
namespace {

// "*/.*" and "*/.*/*" are the dot-folder rules: a path with a component that
// starts with "." and anything below one (hidden entries on this system).
constexpr std::array<const char*, SyncFilter::kPatternCount> kPatterns = {
    "Desktop.ini", "Thumbs.db", "~$*",    "*.tmp",  "*.bak",  "*.swp",  "*.thumb", "*.ncb",
    "*.suo",       "*.part",    ".*.swo", ".*.swn", "*/.*",   "*/.*/*", "CON",     "PRN",
    "AUX",         "NUL",       "COM1",   "COM2",   "COM3",   "COM4",   "COM5",    "COM6",
    "COM7",        "COM8",      "COM9",   "LPT1",   "LPT2",   "LPT3",   "LPT4",    "LPT5",
    "LPT6",        "LPT7",      "LPT8",   "LPT9",   "CON.*",  "PRN.*",  "AUX.*",   "NUL.*",
    "COM1.*",      "COM2.*",    "COM3.*", "COM4.*", "COM5.*", "COM6.*", "COM7.*",  "COM8.*",
    "COM9.*",      "LPT1.*",    "LPT2.*", "LPT3.*", "LPT4.*", "LPT5.*", "LPT6.*",  "LPT7.*",
    "LPT8.*",      "LPT9.*",
};

// The patterns from here on are the names reserved for devices on other
// peers' systems; those before them are temporary and system files.
constexpr size_t kFirstDevicePattern = 14;
static_assert(std::string_view(kPatterns[kFirstDevicePattern]) == "CON");

// Whether matching the pattern against the path below the sync folder can
// find what matching it against the last name cannot. That path starts
// with "/", so a pattern without "/" that starts with a literal never
// matches it, and one of the form "*literal" matches it exactly when it
// matches the last name. Only the dot-folder rules are left.
constexpr bool mayMatchOnlyTheWholePath(std::string_view pattern) {
  if (pattern.find('/') != std::string_view::npos) return true;
  return pattern.starts_with('*') && pattern.find('*', 1) != std::string_view::npos;
}

constexpr std::array<bool, SyncFilter::kPatternCount> kWholePathPatterns = [] {
  std::array<bool, SyncFilter::kPatternCount> out{};
  for (size_t i = 0; i < kPatterns.size(); ++i) out[i] = mayMatchOnlyTheWholePath(kPatterns[i]);
  return out;
}();

// A scan asks for every entry of the sync folder whether some pattern
// matches it, and almost no name does. A pattern that starts (or ends) with
// a literal character matches only a text that starts (ends) with that
// character in either case, so most patterns are passed over on two
// character comparisons, before the matcher walks them. The dot-folder
// rules, matched against every whole path, need the text to hold "/.",
// which one search tells. The table holds no ";" alternatives, for which
// none of this would hold.
struct PatternEnds {
  std::string_view pattern;
  char first = 0;  // lower-case literal the text must start with, or 0
  char last = 0;   // lower-case literal the text must end with, or 0
  // A run of literals without letters that the text must hold, or empty.
  std::string_view inner;
};

constexpr char lowerLiteral(char c) {
  if (c == '*' || c == '?') return 0;
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr std::array<PatternEnds, SyncFilter::kPatternCount> kPatternEnds = [] {
  std::array<PatternEnds, SyncFilter::kPatternCount> out{};
  for (size_t i = 0; i < kPatterns.size(); ++i) {
    const std::string_view p = kPatterns[i];
    if (p.empty() || p.find(';') != std::string_view::npos || p.front() == ' ')
      throw "a pattern of the table is a plain pattern";  // fails the build
    std::string_view inner;
    for (size_t at = 0; at < p.size();) {
      size_t end = at;
      while (end < p.size() && p[end] != '*' && p[end] != '?' &&
             !((p[end] >= 'a' && p[end] <= 'z') || (p[end] >= 'A' && p[end] <= 'Z')))
        ++end;
      if (end - at > inner.size()) inner = p.substr(at, end - at);
      at = end + 1;
    }
    out[i] = {p, lowerLiteral(p.front()), lowerLiteral(p.back()), inner};
  }
  return out;
}();

char lowerByte(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool mayMatch(const PatternEnds& ends, std::string_view text) {
  if (ends.first && (text.empty() || lowerByte(text.front()) != ends.first)) return false;
  if (ends.last && (text.empty() || lowerByte(text.back()) != ends.last)) return false;
  return ends.inner.empty() || text.find(ends.inner) != std::string_view::npos;
}

std::string_view withoutTrailingSlash(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

const std::array<const char*, SyncFilter::kPatternCount>& SyncFilter::patterns() {
  return kPatterns;
}

std::string SyncFilter::localPathOfServerFolder(std::string_view localRoot,
                                                std::string_view serverPath) {
  // Only a whole leading "home" component goes ("homework/x" keeps its name).
  for (std::string_view root : {"/home", "home"}) {
    if (serverPath.starts_with(root) &&
        (serverPath.size() == root.size() || serverPath[root.size()] == '/')) {
      serverPath.remove_prefix(root.size());
      break;
    }
  }
  std::string local(withoutTrailingSlash(localRoot));
  if (!serverPath.empty() && serverPath.front() != '/') local += '/';
  local += serverPath;
  return local;
}

void SyncFilter::setFolders(std::string_view localRoot,
                            const std::vector<std::string>& excludedServerFolders) {
  std::vector<std::string> folders;
  folders.reserve(excludedServerFolders.size());
  for (const auto& server : excludedServerFolders) {
    folders.push_back(localPathOfServerFolder(localRoot, server));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  root_ = std::string(withoutTrailingSlash(localRoot));
  excluded_ = std::move(folders);
}

std::vector<std::string> SyncFilter::excludedFolders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return excluded_;
}

std::string_view SyncFilter::belowRoot(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  // The dot-folder rules look only below the sync folder, so a sync folder
  // that itself lies under a dot folder (~/.local/...) still syncs.
  if (!root_.empty() && path.size() > root_.size() && path.starts_with(root_) &&
      path[root_.size()] == '/') {
    return path.substr(root_.size());
  }
  if (!root_.empty() && path == root_) return {};
  return path;
}

bool SyncFilter::isExcluded(std::string_view path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& folder : excluded_) {
    if (folder.empty() || folder.size() > path.size()) continue;
    if (!platform::equalsIgnoreCase(path.substr(0, folder.size()), folder)) continue;
    if (path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/') {
      return true;
    }
  }
  return false;
}

bool SyncFilter::hasStorableForm(std::string_view path) {
  // Other peers count path lengths in UTF-16 units; a name that is not UTF-8
  // cannot be represented on the service at all.
  return platform::isValidUtf8(path) && platform::utf16Length(path) < kMaxPathUnits;
}

bool SyncFilter::accept(std::string_view path, bool* unsupported) const {
  return verdict(path, unsupported, std::nullopt);
}

bool SyncFilter::acceptListed(std::string_view path, platform::files::EntryType kind,
                              bool* unsupported) const {
  return verdict(path, unsupported, kind);
}

bool SyncFilter::verdict(std::string_view path, bool* unsupported,
                         std::optional<platform::files::EntryType> kind) const {
  bool ignoredUnsupported;
  bool& flag = unsupported ? *unsupported : ignoredUnsupported;
  flag = false;
  if (!hasStorableForm(path)) {
    flag = true;
    return false;
  }
  return acceptsBeyondForm(path, flag, kind);
}

bool SyncFilter::refusesOnlyForItsForm(std::string_view path) const {
  bool unsupported = false;
  if (!hasStorableForm(path)) return acceptsBeyondForm(path, unsupported);
  // A name reserved for a device elsewhere ("aux.c", "con.txt") is an
  // ordinary file here: left out, but said so. One that is also a
  // temporary file by its name ("nul.tmp") matches an earlier pattern and is
  // left out without a word.
  const int pattern = firstMatchingPattern(path);
  return pattern >= static_cast<int>(kFirstDevicePattern) && !isSpecialFile(path) &&
         !isExcluded(path);
}

bool SyncFilter::acceptsBeyondForm(std::string_view path, bool& unsupported,
                                   std::optional<platform::files::EntryType> kind) const {
  if (kind ? *kind == platform::files::EntryType::Other : isSpecialFile(path)) return false;
  if (firstMatchingPattern(path) >= 0) {
    unsupported = true;
    return false;
  }
  return !isExcluded(path);
}

bool SyncFilter::isSpecialFile(std::string_view path) {
  platform::files::EntryInfo info;
  return !platform::files::stat(std::string(path), info) &&
         info.type == platform::files::EntryType::Other;
}

int SyncFilter::firstMatchingPattern(std::string_view path) const {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::string_view whole = belowRoot(path);
  const bool wholeIsAbsolute = whole.starts_with('/');
  for (size_t i = 0; i < kPatternEnds.size(); ++i) {
    const PatternEnds& ends = kPatternEnds[i];
    if (mayMatch(ends, name) && matchWildcards(ends.pattern, name)) return static_cast<int>(i);
    if ((kWholePathPatterns[i] || !wholeIsAbsolute) && mayMatch(ends, whole) &&
        matchWildcards(ends.pattern, whole))
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace varnelo::sync
