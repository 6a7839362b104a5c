#include "Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace varnelo::service {
namespace {
std::atomic<int> gThreshold{static_cast<int>(LogLevel::kInfo)};
// Serialises whole lines on stderr.
std::mutex gLogMutex;
const char* levelName(LogLevel level) {
  switch (level) {
    case LogLevel::kDebug:
      return "debug";
    case LogLevel::kInfo:
      return "info";
    case LogLevel::kWarning:
      return "warning";
    case LogLevel::kError:
      return "error";
  }
  return "?";
}
}  // namespace

void setLogThreshold(LogLevel level) {
  gThreshold = static_cast<int>(level);
}

void logLine(LogLevel level, const char* format, ...) {
  if (static_cast<int>(level) < gThreshold.load()) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &parts);
  std::lock_guard<std::mutex> lock(gLogMutex);
  fprintf(stderr, "%s.%03ldZ [%s] %s\n", stamp, now.tv_nsec / 1000000, levelName(level), text);
}

}  // namespace varnelo::service
