// Reads the network settings that the application writes into the process
// environment. A variable that is unset or empty counts as absent; keywords
// compare without letter case. Called by the transport for every request;
// reads are unlocked (the application changes the block with putenv/setenv).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnelo::http {

// The value of `name`, or nothing when unset or empty.
std::optional<std::string> env_value(const char* name);

// True when `name` is present and equals `keyword` ignoring letter case.
bool env_is(const char* name, std::string_view keyword);

// `atoi` of the value (0 when absent or not a number).
int env_int(const char* name);

bool equals_ignore_case(std::string_view a, std::string_view b);

}  // namespace varnelo::http
