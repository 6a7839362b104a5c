// varnelocmd: the headless Varnelo client. Parses the command line, finds
// the data folder and runs one command (see Commands.h).
#include <cstdio>
#include <memory>

#include "ClientState.h"
#include "CommandLine.h"
#include "Commands.h"
#include "DataFolder.h"
#include "DataFolderLock.h"

int main(int argc, char** argv) {
  using namespace varnelo::cli;
  ParseResult parsed = parseCommandLine(argc, argv);
  if (!parsed.error.empty()) {
    fputs(parsed.error.c_str(), stderr);
    return 2;
  }
  const Command& command = parsed.command;
  if (command.help) {
    fputs(helpText(command.kind).c_str(), stdout);
    return 0;
  }
  std::string dataFolder = command.dataDir.empty() ? defaultDataFolder() : command.dataDir;
  if (std::string error = prepareDataFolder(dataFolder); !error.empty()) {
    fprintf(stderr, "varnelocmd: %s\n", error.c_str());
    return 1;
  }
  // Commands that change the engine's state run one at a time per folder.
  std::unique_ptr<DataFolderLock> lock;
  if (command.kind == CommandKind::Login || command.kind == CommandKind::Logout ||
      command.kind == CommandKind::Sync ||
      (command.kind == CommandKind::Exclude && command.excludeAction != ExcludeAction::List)) {
    lock = std::make_unique<DataFolderLock>(dataFolder);
    if (!lock->held()) {
      fprintf(stderr, "varnelocmd: %s\n", lock->error().c_str());
      return 1;
    }
  }
  switch (command.kind) {
    case CommandKind::Login:
      return runLogin(command, dataFolder);
    case CommandKind::Logout:
      return runLogout(dataFolder);
    case CommandKind::Sync:
      return runSync(command, dataFolder);
    case CommandKind::Status:
      return runStatus(dataFolder);
    case CommandKind::Exclude:
      return runExclude(command, dataFolder);
    case CommandKind::Link:
      return runLink(command, dataFolder);
    case CommandKind::Devices:
      return runDevices(dataFolder);
    case CommandKind::None:
      break;
  }
  fputs(helpText(CommandKind::None).c_str(), stderr);
  return 2;
}
