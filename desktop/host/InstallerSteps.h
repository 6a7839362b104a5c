// What the installer asks of the programs it has just unpacked: record the
// installation in the settings key ("AppVersion", "AppFolder") with the
// autostart entry that runs the host at log-in, and stop a running
// application before its files are replaced. Run by the installer script
// through `varnelohost --record-install` and `--stop-application`.
#pragma once

#include <string>

namespace varnelo::host {

// Writes "AppVersion" (this build's version) and "AppFolder" (`binFolder`),
// creating the key, and the autostart entry for `binFolder`/varnelohost.
// Exit code: 0, or 1 with a log line.
int record_install(const std::string& binFolder);

// When the application runs, hands it "-upgrade" (it says so in a balloon
// and exits) and waits up to `timeoutMs` for it to end. Exit code: 0 it was
// running and has stopped, 1 it was not running, 2 it is still running.
int stop_application(const std::string& binFolder, int timeoutMs);

}  // namespace varnelo::host
