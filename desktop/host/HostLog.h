// The host's log lines: on standard error, and in the engine's log folder
// of the data folder when it exists (the application's log clean-up keeps
// it short). Levels are the engine log's. Single-threaded use.
#pragma once

namespace varnelo::host {

enum HostLogLevel { kHostInfo = 2, kHostWarning = 3, kHostError = 4 };

// Opens the log file in $XDG_DATA_HOME/Varnelo/log/ when that data folder
// already exists (the host never creates it).
void host_log_open();

void host_log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace varnelo::host
