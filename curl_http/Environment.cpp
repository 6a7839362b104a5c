#include "Environment.h"

#include <strings.h>
#include <cstdlib>

namespace varnelo::http {

std::optional<std::string> env_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool equals_ignore_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool env_is(const char* name, std::string_view keyword) {
  auto value = env_value(name);
  return value && equals_ignore_case(*value, keyword);
}

int env_int(const char* name) {
  auto value = env_value(name);
  return value ? std::atoi(value->c_str()) : 0;
}

}  // namespace varnelo::http
