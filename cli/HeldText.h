// How varnelocmd shows held deletions: one line per entry, saying on which
// side it was deleted (and so where it would be deleted next). Pure
// functions; used by `sync` and `status`.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ClientState.h"

namespace varnelo::cli {

// "deleted here:           Photos (30 files)"
// "deleted on the service: notes.txt"
std::string heldLine(const HeldPath& held);

// The lines of at most `limit` entries, then "... and N more" for the rest.
std::vector<std::string> heldLines(const std::vector<HeldPath>& held, size_t limit);

}  // namespace varnelo::cli
