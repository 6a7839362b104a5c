// The command line of varnelocmd: parses argv into one Command (global
// options, the command and its options) and holds the help texts. Pure
// functions of their arguments, so any thread may call them; main() and the
// unit tests do.
//
//   varnelo::cli::ParseResult parsed = varnelo::cli::parseCommandLine(argc, argv);
//   if (!parsed.error.empty()) { fputs(parsed.error.c_str(), stderr); return 2; }
#pragma once

#include <string>
#include <vector>

namespace varnelo::cli {

enum class CommandKind { None, Login, Logout, Sync, Status, Exclude, Link, Devices };

enum class ExcludeAction { List, Add, Remove };

struct Command {
  CommandKind kind = CommandKind::None;
  bool help = false;    // --help given: print helpText(kind) and exit 0
  std::string dataDir;  // --data, empty for the default folder

  // login
  std::string user;
  std::string password;
  std::string provider = "native";
  std::string deviceName;  // empty: the host name

  // sync
  std::string folder;
  bool once = false;
  bool uploadOnly = false;
  bool relink = false;        // adopt the folder as it is now (deletes nothing)
  bool allowDeletes = false;  // carry out deletions held back as too many
  bool restoreHeld = false;   // bring back what was held instead (the other answer)
  int timeoutSeconds = 0;     // 0: no limit

  // exclude
  ExcludeAction excludeAction = ExcludeAction::List;
  std::string remotePath;

  // link
  std::string localPath;
};

struct ParseResult {
  Command command;
  // A one-line reason ending in a newline, followed by the usage of the
  // command concerned; empty when the line was understood.
  std::string error;
};

ParseResult parseCommandLine(int argc, const char* const* argv);
ParseResult parseCommandLine(const std::vector<std::string>& args);  // args[0] is the program

// The usage text of one command, or of the whole program for None.
std::string helpText(CommandKind kind);

}  // namespace varnelo::cli
