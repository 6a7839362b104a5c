// Finds the final HTTP status in the raw header bytes a transfer captured:
// the first status line that is not an interim 100 reply. Used by the JSON
// requests and the chunk transfers. Pure function; thread safe.
#pragma once

#include <string_view>

namespace varnelo::http {

// The status, or -1 when no final status line is present.
int parse_http_status(std::string_view headers);

}  // namespace varnelo::http
