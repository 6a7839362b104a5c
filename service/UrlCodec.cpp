#include "UrlCodec.h"

namespace varnelo::service {
namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(plusIsSpace && c == '+' ? ' ' : c);
  }
  return out;
}

std::string oauthEncode(std::string_view text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    }
  }
  return out;
}

std::vector<QueryParam> parseQuery(std::string_view rawQuery) {
  std::vector<QueryParam> params;
  size_t start = 0;
  while (start <= rawQuery.size()) {
    size_t end = rawQuery.find('&', start);
    if (end == std::string_view::npos) end = rawQuery.size();
    std::string_view part = rawQuery.substr(start, end - start);
    if (!part.empty()) {
      size_t eq = part.find('=');
      if (eq == std::string_view::npos) {
        params.emplace_back(percentDecode(part, true), std::string());
      } else {
        params.emplace_back(percentDecode(part.substr(0, eq), true),
                            percentDecode(part.substr(eq + 1), true));
      }
    }
    start = end + 1;
  }
  return params;
}

std::string queryValue(const std::vector<QueryParam>& params, std::string_view name) {
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  return {};
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace varnelo::service
