// Base64 for the reference service: the URL-safe alphabet with "=" padding
// that versions and chunk keys travel in, and the standard alphabet of OAuth
// signatures. The service's own copy, independent of the client's. Pure
// functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace varnelo::service {

std::string base64Encode(std::string_view bytes, bool urlSafe);
// Strict decoding: only the chosen alphabet, padding optional but, when
// present, correct. False on anything else.
bool base64Decode(std::string_view text, bool urlSafe, std::string& out);

}  // namespace varnelo::service
