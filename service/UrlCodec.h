// Text codecs of the HTTP surface: percent-decoding of queries and header
// values, the RFC 3986 encoding that OAuth base strings use, raw query
// splitting and HTML escaping. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnelo::service {

using QueryParam = std::pair<std::string, std::string>;

// %XX sequences become bytes (malformed ones stay as they are); with
// plusIsSpace a "+" becomes a blank, as in form-encoded queries.
std::string percentDecode(std::string_view text, bool plusIsSpace);
// Everything but A-Z a-z 0-9 - . _ ~ as %XX with upper-case digits.
std::string oauthEncode(std::string_view text);
// Splits a raw query ("a=1&b=x%20y") into decoded name/value pairs in order;
// a part without "=" has an empty value. Empty parts are skipped.
std::vector<QueryParam> parseQuery(std::string_view rawQuery);
// The value of the first parameter with that name, or empty.
std::string queryValue(const std::vector<QueryParam>& params, std::string_view name);
std::string htmlEscape(std::string_view text);

}  // namespace varnelo::service
