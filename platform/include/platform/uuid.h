// RFC 4122 version 4 identifiers from the system's random source.
// Thread safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace platform {

std::array<uint8_t, 16> newUuidBytes();
// Lower-case "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string newUuid();

// Fills `buffer` from the system's random source (getrandom).
void randomBytes(void* buffer, size_t length);

}  // namespace platform
