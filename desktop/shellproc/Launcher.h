// Starts the application for a menu command ("-extlink PATH", "-sendto
// ..."). The program is $VARNELO_PROGRAM when that is set (tests put a
// recorder there), else "varnelo" from PATH. It does not wait for the
// program; the child is reaped through an intermediate process, so the file
// manager never collects zombies. Thread safe.
#pragma once

#include <string>
#include <vector>

namespace varnelo::shellproc {

// False (and a log line) when the program could not be started.
bool startApplication(const std::vector<std::string>& arguments);

}  // namespace varnelo::shellproc
