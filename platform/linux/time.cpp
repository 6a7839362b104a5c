#include "platform/time.h"

#include <cstdio>
#include <ctime>

namespace platform {

FileTime fileTimeFromUnix(int64_t seconds, int64_t nanoseconds) noexcept {
  const int64_t ticks = seconds * 10000000LL + nanoseconds / 100;
  if (ticks < -static_cast<int64_t>(kUnixEpochFileTime)) return 0;
  return kUnixEpochFileTime + ticks;
}

void fileTimeToUnix(FileTime ft, int64_t& seconds, int64_t& nanoseconds) noexcept {
  if (ft < kUnixEpochFileTime) {
    seconds = 0;
    nanoseconds = 0;
    return;
  }
  const uint64_t ticks = ft - kUnixEpochFileTime;
  seconds = static_cast<int64_t>(ticks / 10000000ULL);
  nanoseconds = static_cast<int64_t>(ticks % 10000000ULL) * 100;
}

FileTime currentFileTime() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return fileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
}

LocalTime localTimeOf(FileTime ft) noexcept {
  int64_t s, ns;
  fileTimeToUnix(ft, s, ns);
  const time_t t = static_cast<time_t>(s);
  tm parts{};
  localtime_r(&t, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

LocalTime currentLocalTime() noexcept {
  return localTimeOf(currentFileTime());
}

std::string formatTimeStamp(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

uint64_t monotonicMillis() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

}  // namespace platform
