// One line on standard error ("varneloShellExt: ..."), where the file
// manager's own messages go (the session journal). Thread safe.
#pragma once

namespace varnelo::shellext {

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace varnelo::shellext
