// MIME types by file name from the system's shared MIME database
// (/usr/share/mime/globs2), sent with every committed upload. The table is
// read once per process (or per MimeTypes object in tests); lookups are
// thread safe.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace varnelo {

class MimeTypes {
 public:
  // Reads a globs2 file ("weight:type:glob[:flags]" lines). A missing file
  // gives an empty table, so every lookup answers "unknown".
  explicit MimeTypes(const std::string& globsPath);

  // The type of the best matching glob: highest weight, then longest glob;
  // matching ignores letter case unless the glob is marked case sensitive.
  // "unknown" when nothing matches.
  std::string lookup(std::string_view fileName) const;

  // The process-wide table over /usr/share/mime/globs2.
  static const MimeTypes& system();

 private:
  struct Glob {
    int weight = 0;
    std::string type;
    std::string pattern;
    bool caseSensitive = false;
  };
  void consider(const Glob& g, const Glob*& best) const;

  // Globs of the form "*.ext" and plain names, keyed by the text to compare
  // (lower-cased unless case sensitive); everything else goes through fnmatch.
  std::unordered_map<std::string, std::vector<Glob>> suffixes_;
  std::unordered_map<std::string, std::vector<Glob>> literals_;
  std::vector<Glob> others_;
};

}  // namespace varnelo
