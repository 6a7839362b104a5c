// Form-style escaping of texts placed in query strings and OAuth header
// values: space becomes "+", a fixed set of punctuation becomes %xx (lower
// case), everything else (letters, digits, ! ( ) * - . _, control bytes and
// every byte of UTF-8 text above 0x7F) passes unchanged. Thread safe.
#pragma once

#include <string>
#include <string_view>

namespace varnelo::http {

std::string form_escape(std::string_view text);

}  // namespace varnelo::http
