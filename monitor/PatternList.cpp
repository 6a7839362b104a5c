#include "PatternList.h"

namespace varnelo::monitor {
namespace {

// Length of the UTF-8 character that starts at `text[i]`; a stray byte
// counts as one character of its own.
size_t charLength(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  return i + length <= text.size() ? length : 1;
}

// Whether the pattern element at `p` accepts the text character at `t`
// (an exact character or "?"), and how far each side moves.
bool stepMatches(std::string_view text, size_t t, std::string_view pattern, size_t p,
                 size_t& textStep, size_t& patternStep) {
  textStep = charLength(text, t);
  if (pattern[p] == '?') {
    patternStep = 1;
    return true;
  }
  patternStep = charLength(pattern, p);
  return patternStep == textStep && text.compare(t, textStep, pattern.substr(p, patternStep)) == 0;
}

}  // namespace

bool wildcardMatch(std::string_view text, std::string_view pattern) {
  size_t t = 0;
  size_t p = 0;
  // Where to resume after a mismatch: just past the last "*" and one
  // character further into the text than the last attempt started.
  size_t starPattern = std::string_view::npos;
  size_t starText = 0;
  while (t < text.size()) {
    size_t textStep = 0;
    size_t patternStep = 0;
    if (p < pattern.size() && pattern[p] == '*') {
      ++p;
      if (p == pattern.size()) return true;
      starPattern = p;
      starText = t;
    } else if (p < pattern.size() && stepMatches(text, t, pattern, p, textStep, patternStep)) {
      t += textStep;
      p += patternStep;
    } else if (starPattern != std::string_view::npos) {
      starText += charLength(text, starText);
      t = starText;
      p = starPattern;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

PatternList PatternList::parse(std::string_view text) {
  PatternList list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) list.patterns_.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return list;
}

bool PatternList::matchesAny(std::string_view text) const {
  for (const auto& pattern : patterns_) {
    if (wildcardMatch(text, pattern)) return true;
  }
  return false;
}

}  // namespace varnelo::monitor
