#include "Base64Url.h"

#include <array>

namespace varnelo::http {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The value of each byte as a digit of the alphabet; -1 for the others.
constexpr std::array<int8_t, 256> kSextets = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}();

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
  // Every four digits give at most three bytes: written in place, and the
  // vector cut to what was written.
  out.resize(text.size() / 4 * 3 + 3);
  uint8_t* next = out.data();
  uint32_t bits = 0;
  int count = 0;
  bool ok = true;
  for (unsigned char c : text) {
    const int v = kSextets[c];
    if (v < 0) {
      if (c == '\r' || c == '\n' || c == '=' || !strict) continue;
      ok = false;
      break;
    }
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      *next++ = static_cast<uint8_t>((bits >> count) & 0xff);
    }
  }
  out.resize(static_cast<size_t>(next - out.data()));
  return ok;
}

}  // namespace varnelo::http
