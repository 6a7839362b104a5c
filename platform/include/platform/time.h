// File times as the service and the journals carry them: 64-bit counts of
// 100 ns intervals since 1601-01-01 UTC, converted from and to Unix time.
// Also the local-time stamps of the engine log and of conflicted copies.
// Thread safe.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using FileTime = uint64_t;

// 1970-01-01 expressed as a FileTime.
inline constexpr FileTime kUnixEpochFileTime = 116444736000000000ULL;

FileTime fileTimeFromUnix(int64_t seconds, int64_t nanoseconds) noexcept;
// Splits a FileTime into Unix seconds and nanoseconds (times before 1970 clamp to 0).
void fileTimeToUnix(FileTime ft, int64_t& seconds, int64_t& nanoseconds) noexcept;
FileTime currentFileTime() noexcept;

struct LocalTime {
  int year, month, day, hour, minute, second;
};
// Broken-down local time of `ft` (the process's time zone).
LocalTime localTimeOf(FileTime ft) noexcept;
LocalTime currentLocalTime() noexcept;

// "YYYY-MM-DD hh:mm:ss" of the given local time.
std::string formatTimeStamp(const LocalTime& t);

// Milliseconds from a monotonic clock, for intervals and deadlines.
uint64_t monotonicMillis() noexcept;

}  // namespace platform
