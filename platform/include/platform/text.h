// Strict text conversions between UTF-8 (every interface, every database) and
// UTF-16 (lengths and limits that are counted in UTF-16 units), plus the
// byte-wise lower-casing used for journal and chunk-index paths.
//
// The conversions throw TextError ("Failed!") on malformed input; callers
// inside a module catch it and turn it into a result code. Thread safe.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

class TextError : public std::runtime_error {
 public:
  TextError() : std::runtime_error("Failed!") {}
};

// UTF-8 → UTF-16. Throws TextError on overlong forms, truncated sequences,
// encoded surrogates, code points above U+10FFFF and stray bytes.
std::u16string utf8ToUtf16(std::string_view utf8);

// UTF-16 → UTF-8. Throws TextError on an unpaired surrogate.
std::string utf16ToUtf8(std::u16string_view utf16);

// True when `bytes` is well-formed UTF-8 (the same rules as utf8ToUtf16).
// File names on Linux are bytes; a name failing this check cannot be synced.
bool isValidUtf8(std::string_view bytes) noexcept;

// Number of UTF-16 code units `utf8` converts to. Throws TextError.
size_t utf16Length(std::string_view utf8);

// The longest start of `utf8` of at most `limit` bytes that splits no
// character (a name cut to what a file system can hold).
std::string cutUtf8(std::string_view utf8, size_t limit);

// Lower-cases A-Z only; every other byte (including UTF-8 sequences) is kept.
std::string asciiLower(std::string_view text);

// Case-insensitive comparison of two texts under asciiLower.
bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept;

}  // namespace platform
