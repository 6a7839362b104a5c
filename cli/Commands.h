// The commands of varnelocmd, one function each, called by main() on the
// main thread once the command line is parsed and the data folder exists.
// Each prints its outcome (results on stdout, failures on stderr) and
// returns the process exit code: 0 success, 1 failure.
#pragma once

#include <string>

#include "CommandLine.h"

namespace varnelo::cli {

int runLogin(const Command& command, const std::string& dataFolder);
int runLogout(const std::string& dataFolder);
int runDevices(const std::string& dataFolder);
int runStatus(const std::string& dataFolder);
int runExclude(const Command& command, const std::string& dataFolder);
int runLink(const Command& command, const std::string& dataFolder);
int runSync(const Command& command, const std::string& dataFolder);

}  // namespace varnelo::cli
