// URL-safe base64 with "=" padding, the form versions (16 bytes) and chunk
// keys (20 bytes) take on the wire. Used by the metadata calls, the small-file
// put address and the key list of data addresses. Thread safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnelo::http {

std::string base64url_encode(const uint8_t* data, size_t size);

// Decodes `text`. Line breaks and "=" are always skipped; other characters
// outside the alphabet are skipped too unless `strict`, which makes them an
// error (false). Trailing bits that do not fill a byte are dropped.
bool base64url_decode(std::string_view text, std::vector<uint8_t>& out, bool strict = false);

}  // namespace varnelo::http
