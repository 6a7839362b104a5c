#include "FormEscape.h"

namespace varnelo::http {
namespace {

bool needs_percent(unsigned char c) {
  switch (c) {
    case '"':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '+':
    case ',':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
    case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string form_escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (unsigned char c : text) {
    if (c == ' ') {
      out += '+';
    } else if (needs_percent(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace varnelo::http
