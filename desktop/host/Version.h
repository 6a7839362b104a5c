// Dotted version texts as the update manifest and the registry carry them
// ("1.2.3"), and their comparison. Pure functions; thread safe.
//
//   compare_versions("1.3.0", "1.2.3") == 2   // newer in the second component
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace varnelo::host {

// At most four numbers. In each dot-separated component the characters
// before its first digit are skipped and those after its digits ignored; a
// component without a digit, the end of the text or a dot at its very end
// ends the parse. So "1.2b.3" reads 1, 2, 3 and "v2.0" reads 2, 0.
std::vector<uint32_t> parse_version(std::string_view text);

// 0 when the texts have different numbers of components or are equal;
// otherwise i + 1 when `a` is larger at the first differing position i, and
// -(i + 1) when it is smaller.
int compare_versions(std::string_view a, std::string_view b);

}  // namespace varnelo::host
