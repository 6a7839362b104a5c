#include "CommandLine.h"

#include <charconv>
#include <functional>

namespace varnelo::cli {
namespace {

const char kProgramUsage[] =
    "usage: varnelocmd [--data DIR] COMMAND [OPTIONS]\n"
    "\n"
    "Keeps a local folder in two-way sync with your Varnelo storage, without a desktop.\n"
    "\n"
    "Commands:\n"
    "  login     sign in with a user name and password and register this computer\n"
    "  logout    unregister this computer and forget the account\n"
    "  sync      keep a folder in sync in the foreground (Ctrl-C stops)\n"
    "  status    account, folder, mode, excluded folders and the last result\n"
    "  exclude   list, add or remove remote folders that are not synced\n"
    "  link      print a share link for a file in the sync folder\n"
    "  devices   list the computers registered to the account\n"
    "\n"
    "Global options:\n"
    "  --data DIR   the client's data folder (default $XDG_DATA_HOME/Varnelo,\n"
    "               that is ~/.local/share/Varnelo)\n"
    "  --help       this text; `varnelocmd COMMAND --help` explains one command\n"
    "\n"
    "The service is chosen by VARNELO_SERVICE=host:httpPort:httpsPort (default\n"
    "127.0.0.1:8080:8443) and trusted through the system store plus the file in\n"
    "VARNELO_CA_BUNDLE.\n";

const char kLoginUsage[] =
    "usage: varnelocmd [--data DIR] login --user NAME --password PW\n"
    "                  [--provider native|kuv] [--device-name NAME]\n"
    "\n"
    "Signs in, stores the access token (never the password) in the data folder and\n"
    "registers this computer as a device of the account. The device name defaults\n"
    "to the host name. With --password - the password is read from standard input,\n"
    "which keeps it out of the process list.\n";

const char kLogoutUsage[] =
    "usage: varnelocmd [--data DIR] logout\n"
    "\n"
    "Unregisters this computer from the account and forgets the account: the stored\n"
    "token and the sync state are removed. Files in the sync folder stay.\n";

const char kSyncUsage[] =
    "usage: varnelocmd [--data DIR] sync --folder DIR [--once] [--upload-only]\n"
    "                  [--timeout SECONDS] [--relink] [--allow-deletes | --restore-held]\n"
    "\n"
    "Keeps DIR in sync with your storage until Ctrl-C or SIGTERM. On a terminal one\n"
    "status line shows the state, the current file and the speeds; otherwise each\n"
    "event is one log line.\n"
    "\n"
    "  --once          stop when both sides agree: exit 0, or 1 listing what failed\n"
    "  --upload-only   send local changes, never fetch remote ones\n"
    "  --timeout S     give up after S seconds (with --once: exit 1 when not in step)\n"
    "  --relink        take DIR as it is now as the sync folder, after it was reported\n"
    "                  as not the one synced before (a replaced folder, a new disk):\n"
    "                  both sides are compared in full and nothing is deleted\n"
    "  --allow-deletes carry out deletions that were held back because they would\n"
    "                  remove a large part of the files\n"
    "  --restore-held  keep them instead: what was deleted here is downloaded again,\n"
    "                  what was deleted on the service is uploaded again\n"
    "                  (`varnelocmd status` lists what is held and on which side)\n";

const char kStatusUsage[] =
    "usage: varnelocmd [--data DIR] status\n"
    "\n"
    "Prints the account, the sync folder, the sync mode, the excluded remote folders\n"
    "and the result of the last sync, with the deletions it held back: each path and\n"
    "whether it was deleted here or on the service.\n";

const char kExcludeUsage[] =
    "usage: varnelocmd [--data DIR] exclude list\n"
    "       varnelocmd [--data DIR] exclude add REMOTE_PATH\n"
    "       varnelocmd [--data DIR] exclude remove REMOTE_PATH\n"
    "\n"
    "Remote folders that are not synced, written as \"home/Photos\" or \"Photos\".\n"
    "Adding a folder forgets its sync state; local files are not touched.\n";

const char kLinkUsage[] =
    "usage: varnelocmd [--data DIR] link LOCAL_PATH\n"
    "\n"
    "Prints a share link for a file or folder inside the sync folder.\n";

const char kDevicesUsage[] =
    "usage: varnelocmd [--data DIR] devices\n"
    "\n"
    "Lists the computers registered to the account; this one is marked with *.\n";

struct CommandName {
  const char* name;
  CommandKind kind;
};

constexpr CommandName kCommands[] = {
    {"login", CommandKind::Login},     {"logout", CommandKind::Logout},
    {"sync", CommandKind::Sync},       {"status", CommandKind::Status},
    {"exclude", CommandKind::Exclude}, {"link", CommandKind::Link},
    {"devices", CommandKind::Devices},
};

// One option of a command: a flag, or an option with a value that `apply`
// stores (returning false when the value is not acceptable).
struct Option {
  const char* name;
  bool takesValue;
  std::function<bool(Command&, const std::string&)> apply;
};

bool parseSeconds(const std::string& text, int* out) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value <= 0) return false;
  *out = value;
  return true;
}

std::vector<Option> optionsOf(CommandKind kind) {
  auto text = [](std::string Command::*field) {
    return [field](Command& c, const std::string& v) {
      c.*field = v;
      return !v.empty();
    };
  };
  switch (kind) {
    case CommandKind::Login:
      return {{"--user", true, text(&Command::user)},
              {"--password", true,
               [](Command& c, const std::string& v) {
                 c.password = v;
                 return true;  // an empty password is the service's to refuse
               }},
              {"--provider", true,
               [](Command& c, const std::string& v) {
                 c.provider = v;
                 return v == "native" || v == "kuv";
               }},
              {"--device-name", true, text(&Command::deviceName)}};
    case CommandKind::Sync:
      return {{"--folder", true, text(&Command::folder)},
              {"--once", false, [](Command& c, const std::string&) { return c.once = true; }},
              {"--upload-only", false,
               [](Command& c, const std::string&) { return c.uploadOnly = true; }},
              {"--relink", false, [](Command& c, const std::string&) { return c.relink = true; }},
              {"--allow-deletes", false,
               [](Command& c, const std::string&) { return c.allowDeletes = true; }},
              {"--restore-held", false,
               [](Command& c, const std::string&) { return c.restoreHeld = true; }},
              {"--timeout", true, [](Command& c, const std::string& v) {
                 return parseSeconds(v, &c.timeoutSeconds);
               }}};
    default:
      return {};
  }
}

ParseResult fail(CommandKind kind, const std::string& reason) {
  ParseResult result;
  result.command.kind = kind;
  result.error = "varnelocmd: " + reason + "\n\n" + helpText(kind);
  return result;
}

// Checks the positional arguments and the required options of a command.
std::string checkCommand(Command& c, const std::vector<std::string>& positional) {
  auto extra = [&](size_t allowed) -> std::string {
    return positional.size() > allowed ? "unexpected argument '" + positional[allowed] + "'" : "";
  };
  switch (c.kind) {
    case CommandKind::Login:
      if (c.user.empty()) return "login needs --user NAME";
      if (c.password.empty()) return "login needs --password PW";
      return extra(0);
    case CommandKind::Sync:
      if (c.folder.empty()) return "sync needs --folder DIR";
      if (c.allowDeletes && c.restoreHeld)
        return "--allow-deletes and --restore-held are two answers; give one";
      return extra(0);
    case CommandKind::Exclude: {
      if (positional.empty()) return "exclude needs list, add or remove";
      const std::string& action = positional[0];
      if (action == "list") {
        c.excludeAction = ExcludeAction::List;
        return extra(1);
      }
      if (action != "add" && action != "remove") return "unknown exclude action '" + action + "'";
      c.excludeAction = action == "add" ? ExcludeAction::Add : ExcludeAction::Remove;
      if (positional.size() < 2 || positional[1].empty())
        return "exclude " + action + " needs REMOTE_PATH";
      c.remotePath = positional[1];
      return extra(2);
    }
    case CommandKind::Link:
      if (positional.empty() || positional[0].empty()) return "link needs LOCAL_PATH";
      c.localPath = positional[0];
      return extra(1);
    default:
      return extra(0);
  }
}

}  // namespace

ParseResult parseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return parseCommandLine(args);
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  Command command;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (command.kind == CommandKind::None && !optionsEnded) {
        for (const auto& known : kCommands) {
          if (arg == known.name) command.kind = known.kind;
        }
        if (command.kind == CommandKind::None) {
          return fail(CommandKind::None, "unknown command '" + arg + "'");
        }
      } else {
        positional.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" and "--name value" are the same.
    std::string value;
    bool inlineValue = false;
    if (size_t eq = arg.find('='); eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    auto takeValue = [&](std::string* out) {
      if (inlineValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    if (arg == "--help") {
      command.help = true;
      continue;
    }
    if (arg == "--data") {
      if (!takeValue(&command.dataDir) || command.dataDir.empty()) {
        return fail(command.kind, "--data needs a folder");
      }
      continue;
    }
    bool known = false;
    for (const Option& option : optionsOf(command.kind)) {
      if (arg != option.name) continue;
      known = true;
      if (option.takesValue && !takeValue(&value)) {
        return fail(command.kind, arg + " needs a value");
      }
      if (!option.takesValue && inlineValue) {
        return fail(command.kind, arg + " takes no value");
      }
      if (!option.apply(command, value)) {
        return fail(command.kind, "bad value '" + value + "' for " + arg);
      }
    }
    if (!known) return fail(command.kind, "unknown option " + arg);
  }
  ParseResult result;
  result.command = command;
  if (command.help) return result;
  if (command.kind == CommandKind::None) return fail(CommandKind::None, "no command given");
  if (std::string reason = checkCommand(result.command, positional); !reason.empty()) {
    return fail(command.kind, reason);
  }
  return result;
}

std::string helpText(CommandKind kind) {
  switch (kind) {
    case CommandKind::Login:
      return kLoginUsage;
    case CommandKind::Logout:
      return kLogoutUsage;
    case CommandKind::Sync:
      return kSyncUsage;
    case CommandKind::Status:
      return kStatusUsage;
    case CommandKind::Exclude:
      return kExcludeUsage;
    case CommandKind::Link:
      return kLinkUsage;
    case CommandKind::Devices:
      return kDevicesUsage;
    case CommandKind::None:
      break;
  }
  return kProgramUsage;
}

}  // namespace varnelo::cli
