#include "WildcardMatch.h"

namespace varnelo::sync {
namespace {

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Index just past the UTF-8 character starting at `i`.
size_t nextChar(std::string_view s, size_t i) {
  ++i;
  while (i < s.size() && isContinuation(s[i])) ++i;
  return i;
}

// One alternative against the whole text. Greedy with a single backtrack
// point (the last "*"), which is enough for "*" and "?" and keeps the cost
// at O(pattern × text) in the worst case.
bool matchOne(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0;
  size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      t = nextChar(text, t);
    } else if (p < pattern.size() && lowerAscii(pattern[p]) == lowerAscii(text[t])) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      starT = nextChar(text, starT);
      t = starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool matchWildcards(std::string_view patterns, std::string_view text) {
  size_t start = 0;
  while (start <= patterns.size()) {
    size_t end = patterns.find(';', start);
    if (end == std::string_view::npos) end = patterns.size();
    std::string_view alternative = patterns.substr(start, end - start);
    while (!alternative.empty() && alternative.front() == ' ') alternative.remove_prefix(1);
    if (!alternative.empty() && matchOne(alternative, text)) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace varnelo::sync
