// The reference service's own log: one line per event on standard error,
// prefixed with a UTC time and a level. Called from every thread of the
// service; lines are written whole under one lock, so they never interleave.
#pragma once

namespace varnelo::service {

enum class LogLevel { kDebug = 0, kInfo = 1, kWarning = 2, kError = 3 };

// Lines below this level are dropped (default kInfo; VARNELO_SERVICE_LOG=debug
// in the environment lowers it).
void setLogThreshold(LogLevel level);

void logLine(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace varnelo::service
