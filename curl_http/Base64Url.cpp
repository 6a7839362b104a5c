#include "Base64Url.h"

namespace varnelo::http {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int sextet(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

}  // namespace

std::string base64url_encode(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    uint32_t chunk = uint32_t{data[i]} << 16;
    if (i + 1 < size) chunk |= uint32_t{data[i + 1]} << 8;
    if (i + 2 < size) chunk |= data[i + 2];
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += i + 1 < size ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < size ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

bool base64url_decode(std::string_view text, std::vector<uint8_t>& out, bool strict) {
  out.clear();
  out.reserve(text.size() * 3 / 4);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    int v = sextet(c);
    if (v < 0) {
      if (c == '\r' || c == '\n' || c == '=' || !strict) continue;
      return false;
    }
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<uint8_t>((bits >> count) & 0xff));
    }
  }
  return true;
}

}  // namespace varnelo::http
