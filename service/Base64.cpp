#include "Base64.h"

namespace varnelo::service {
namespace {
const char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kUrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int digitValue(char c, bool urlSafe) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == (urlSafe ? '-' : '+')) return 62;
  if (c == (urlSafe ? '_' : '/')) return 63;
  return -1;
}
}  // namespace

std::string base64Encode(std::string_view bytes, bool urlSafe) {
  const char* table = urlSafe ? kUrlSafe : kStandard;
  // Written in place: listings carry megabytes of it.
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  char* o = out.data();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    *o++ = table[(v >> 18) & 63];
    *o++ = table[(v >> 12) & 63];
    *o++ = table[(v >> 6) & 63];
    *o++ = table[v & 63];
  }
  if (const size_t rest = bytes.size() - i; rest > 0) {
    unsigned v = in[i] << 16;
    if (rest == 2) v |= in[i + 1] << 8;
    *o++ = table[(v >> 18) & 63];
    *o++ = table[(v >> 12) & 63];
    if (rest == 2) *o = table[(v >> 6) & 63];  // else both stay '='
  }
  return out;
}

bool base64Decode(std::string_view text, bool urlSafe, std::string& out) {
  out.clear();
  size_t end = text.size();
  size_t pads = 0;
  while (end > 0 && text[end - 1] == '=' && pads < 2) {
    --end;
    ++pads;
  }
  if (pads > 0 && text.size() % 4 != 0) return false;
  if (end % 4 == 1) return false;
  unsigned acc = 0;
  int bits = 0;
  for (size_t i = 0; i < end; ++i) {
    int v = digitValue(text[i], urlSafe);
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  // Left-over bits must be zero, so every byte string has one encoding.
  return (acc & ((1u << bits) - 1)) == 0;
}

}  // namespace varnelo::service
