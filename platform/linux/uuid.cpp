#include "platform/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace platform {

void randomBytes(void* buffer, size_t length) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (length > 0) {
    const ssize_t n = ::getrandom(p, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::abort();  // no entropy source: nothing sensible can be generated
    }
    p += n;
    length -= static_cast<size_t>(n);
  }
}

std::array<uint8_t, 16> newUuidBytes() {
  std::array<uint8_t, 16> b{};
  randomBytes(b.data(), b.size());
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return b;
}

std::string newUuid() {
  const auto b = newUuidBytes();
  char out[37];
  std::snprintf(out, sizeof out,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return out;
}

}  // namespace platform
