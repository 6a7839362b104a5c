// Case folding of entry and account names. Only A-Z are folded, byte by
// byte, exactly as the client folds its journal paths, so that the service
// and every client agree on which names collide. Pure, thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace varnelo::service {

inline std::string foldCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace varnelo::service
