#include "platform/text.h"

#include <cstdint>

namespace platform {
namespace {

// Decodes one code point at `i`, advancing it; returns false on malformed input.
bool decodeUtf8(std::string_view s, size_t& i, char32_t& cp) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  }
  int extra;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return false;  // continuation byte or 0xF8..0xFF as a lead byte
  }
  if (i + extra >= s.size()) return false;  // truncated sequence
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min) return false;                      // overlong
  if (cp > 0x10FFFF) return false;                 // beyond Unicode
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;  // encoded surrogate
  i += extra + 1;
  return true;
}

// The length of the leading run of ASCII bytes: each is a whole character
// and one UTF-16 unit, so most paths need no decoding at all.
size_t asciiPrefix(std::string_view bytes) noexcept {
  size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp;
    if (!decodeUtf8(utf8, i, cp)) throw TextError();
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= utf16.size()) throw TextError();
      const char32_t low = utf16[i + 1];
      if (low < 0xDC00 || low > 0xDFFF) throw TextError();
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      throw TextError();
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string cutUtf8(std::string_view utf8, size_t limit) {
  if (utf8.size() <= limit) return std::string(utf8);
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
  return std::string(utf8.substr(0, end));
}

bool isValidUtf8(std::string_view bytes) noexcept {
  size_t i = asciiPrefix(bytes);
  char32_t cp;
  while (i < bytes.size()) {
    if (!decodeUtf8(bytes, i, cp)) return false;
  }
  return true;
}

size_t utf16Length(std::string_view utf8) {
  size_t i = asciiPrefix(utf8), units = i;
  char32_t cp;
  while (i < utf8.size()) {
    if (!decodeUtf8(utf8, i, cp)) throw TextError();
    units += cp >= 0x10000 ? 2 : 1;
  }
  return units;
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace platform
