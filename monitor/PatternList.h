// PatternList: the include or exclude patterns of one watch, parsed from a
// ";"-separated text, and the case-sensitive wildcard matcher they use ("*"
// any run of characters, "/" included; "?" one character). Used by the
// delayed change handler at dispatch time. Immutable after parsing, so safe
// to read from any thread.
//
//   auto excludes = PatternList::parse("*.tmp;Desktop.ini");
//   excludes.matchesAny("sub/x.tmp");  // true
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnelo::monitor {

// True when all of `text` matches `pattern`. Characters are compared exactly
// (so "Thumbs.db" does not match "thumbs.db"); "?" takes one UTF-8 character.
bool wildcardMatch(std::string_view text, std::string_view pattern);

class PatternList {
 public:
  // Every non-empty piece between ";" separators is one pattern, in order.
  // An empty text gives an empty list.
  static PatternList parse(std::string_view text);

  bool empty() const { return patterns_.empty(); }
  size_t size() const { return patterns_.size(); }
  const std::vector<std::string>& patterns() const { return patterns_; }
  // Tests the patterns in order and stops at the first match.
  bool matchesAny(std::string_view text) const;

 private:
  std::vector<std::string> patterns_;
};

}  // namespace varnelo::monitor
