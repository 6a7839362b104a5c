// Walks two lists that are sorted by the same key side by side, the way the
// remote pass and the local scan compare a folder with its journal rows.
// Pure template; thread safety is the caller's.
//
//   mergeSorted(remote, journal, remoteKey, journalKey,
//               [&](const Remote* r, const Row* j) { ... },  // either may be null
//               [&] { return ctx.isStopping(); });
#pragma once

#include <string_view>
#include <vector>

namespace varnelo {

// Calls visit(left, right) once per key in ascending order: both set when
// the key is on both sides, one null otherwise. Stops early (returning
// false) as soon as stop() answers true.
template <class L, class R, class KeyL, class KeyR, class Visit, class Stop>
bool mergeSorted(const std::vector<L>& left, const std::vector<R>& right, KeyL keyL, KeyR keyR,
                 Visit visit, Stop stop) {
  size_t i = 0, j = 0;
  while (i < left.size() || j < right.size()) {
    if (stop()) return false;
    if (j == right.size()) {
      visit(&left[i++], static_cast<const R*>(nullptr));
    } else if (i == left.size()) {
      visit(static_cast<const L*>(nullptr), &right[j++]);
    } else {
      // Keys may be temporaries (lower-cased copies): keep them by value.
      const auto a = keyL(left[i]);
      const auto b = keyR(right[j]);
      if (a < b) {
        visit(&left[i++], static_cast<const R*>(nullptr));
      } else if (b < a) {
        visit(static_cast<const L*>(nullptr), &right[j++]);
      } else {
        visit(&left[i++], &right[j++]);
      }
    }
  }
  return true;
}

}  // namespace varnelo
