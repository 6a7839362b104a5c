#include "Version.h"

#include <limits>

namespace varnelo::host {
namespace {
bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
}  // namespace

std::vector<uint32_t> parse_version(std::string_view text) {
  std::vector<uint32_t> numbers;
  size_t pos = 0;
  while (numbers.size() < 4) {
    size_t end = text.find('.', pos);
    std::string_view component = text.substr(pos, end == std::string_view::npos ? end : end - pos);
    size_t digit = 0;
    while (digit < component.size() && !is_digit(component[digit])) ++digit;
    if (digit == component.size()) break;
    // Saturates rather than wraps: an absurdly long number still compares
    // as large.
    uint64_t value = 0;
    for (; digit < component.size() && is_digit(component[digit]); ++digit) {
      value = value * 10 + static_cast<uint64_t>(component[digit] - '0');
      if (value > std::numeric_limits<uint32_t>::max())
        value = std::numeric_limits<uint32_t>::max();
    }
    numbers.push_back(static_cast<uint32_t>(value));
    if (end == std::string_view::npos || end + 1 >= text.size()) break;
    pos = end + 1;
  }
  return numbers;
}

int compare_versions(std::string_view a, std::string_view b) {
  std::vector<uint32_t> left = parse_version(a);
  std::vector<uint32_t> right = parse_version(b);
  if (left.size() != right.size()) return 0;
  for (size_t i = 0; i < left.size(); ++i) {
    if (left[i] < right[i]) return -static_cast<int>(i + 1);
    if (left[i] > right[i]) return static_cast<int>(i + 1);
  }
  return 0;
}

}  // namespace varnelo::host
