// Wildcard matching as the shell does it for ignore patterns: "*" matches
// any run of characters (also none), "?" exactly one character, letters
// match without regard to ASCII case, and ";" separates alternatives (spaces
// after a ";" are skipped). Used by the sync filter and the change monitor's
// ignore list. Thread safe (pure functions).
//
//   matchWildcards("*.tmp;~$*", "~$Report.DOCX")  // true
#pragma once

#include <string_view>

namespace varnelo::sync {

// True when `text` matches any alternative of `patterns`. Texts are UTF-8; "?"
// takes one whole character (code point), never part of one.
bool matchWildcards(std::string_view patterns, std::string_view text);

}  // namespace varnelo::sync
