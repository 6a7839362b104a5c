// The command line scripts rely on: every command's options, --help on each,
// and a clear reason (with the command's usage) for every mistake.
#include <gtest/gtest.h>

#include "CommandLine.h"

namespace varnelo::cli {
namespace {

ParseResult parse(std::vector<std::string> args) {
  args.insert(args.begin(), "varnelocmd");
  return parseCommandLine(args);
}

TEST(CommandLineTest, LoginWithEveryOption) {
  ParseResult r = parse({"--data", "/tmp/d", "login", "--user", "alice", "--password=a b&c",
                         "--provider", "kuv", "--device-name", "build box"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.command.kind, CommandKind::Login);
  EXPECT_EQ(r.command.dataDir, "/tmp/d");
  EXPECT_EQ(r.command.user, "alice");
  EXPECT_EQ(r.command.password, "a b&c");
  EXPECT_EQ(r.command.provider, "kuv");
  EXPECT_EQ(r.command.deviceName, "build box");
}

TEST(CommandLineTest, PasswordMayLookLikeAnOption) {
  ParseResult r = parse({"login", "--user", "alice", "--password", "--secret"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.command.password, "--secret");
}

TEST(CommandLineTest, SyncOptionsAndDataAfterTheCommand) {
  ParseResult r = parse(
      {"sync", "--folder", "~/V", "--once", "--upload-only", "--timeout", "30", "--data", "/d"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.command.kind, CommandKind::Sync);
  EXPECT_EQ(r.command.folder, "~/V");
  EXPECT_TRUE(r.command.once);
  EXPECT_TRUE(r.command.uploadOnly);
  EXPECT_EQ(r.command.timeoutSeconds, 30);
  EXPECT_EQ(r.command.dataDir, "/d");
}

TEST(CommandLineTest, RestoreHeldIsTheOtherAnswerToHeldDeletions) {
  ParseResult r = parse({"sync", "--folder", "d", "--restore-held"});
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.command.restoreHeld);
  EXPECT_FALSE(r.command.allowDeletes);
}

TEST(CommandLineTest, ExcludeActionsAndLink) {
  ParseResult list = parse({"exclude", "list"});
  ASSERT_EQ(list.error, "");
  EXPECT_EQ(list.command.excludeAction, ExcludeAction::List);
  ParseResult add = parse({"exclude", "add", "home/Photos"});
  ASSERT_EQ(add.error, "");
  EXPECT_EQ(add.command.excludeAction, ExcludeAction::Add);
  EXPECT_EQ(add.command.remotePath, "home/Photos");
  ParseResult remove = parse({"exclude", "remove", "--", "--odd name"});
  ASSERT_EQ(remove.error, "");
  EXPECT_EQ(remove.command.excludeAction, ExcludeAction::Remove);
  EXPECT_EQ(remove.command.remotePath, "--odd name");
  ParseResult link = parse({"link", "a/b.txt"});
  ASSERT_EQ(link.error, "");
  EXPECT_EQ(link.command.localPath, "a/b.txt");
}

TEST(CommandLineTest, HelpOnEveryCommandNeedsNoOtherArgument) {
  for (const char* name : {"login", "logout", "sync", "status", "exclude", "link", "devices"}) {
    ParseResult r = parse({name, "--help"});
    EXPECT_EQ(r.error, "") << name;
    EXPECT_TRUE(r.command.help) << name;
    EXPECT_NE(helpText(r.command.kind).find(std::string("varnelocmd [--data DIR] ") + name),
              std::string::npos)
        << name;
  }
  ParseResult top = parse({"--help"});
  EXPECT_TRUE(top.command.help);
  EXPECT_EQ(top.command.kind, CommandKind::None);
  EXPECT_NE(helpText(CommandKind::None).find("Commands:"), std::string::npos);
}

TEST(CommandLineTest, MistakesNameTheProblemAndShowTheCommandsUsage) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
    const char* usage;
  };
  const Case cases[] = {
      {{}, "no command given", "Commands:"},
      {{"frobnicate"}, "unknown command 'frobnicate'", "Commands:"},
      {{"login", "--password", "x"}, "login needs --user NAME", "login --user NAME"},
      {{"login", "--user", "a"}, "login needs --password PW", "login --user NAME"},
      {{"login", "--user", "a", "--password", "p", "--provider", "ldap"},
       "bad value 'ldap' for --provider",
       "login --user NAME"},
      {{"login", "--user"}, "--user needs a value", "login --user NAME"},
      {{"sync"}, "sync needs --folder DIR", "sync --folder DIR"},
      {{"sync", "--folder", "d", "--timeout", "0"}, "bad value '0' for --timeout", "sync"},
      {{"sync", "--folder", "d", "--timeout", "5s"}, "bad value '5s' for --timeout", "sync"},
      {{"sync", "--folder", "d", "--once=yes"}, "--once takes no value", "sync"},
      {{"sync", "--folder", "d", "--user", "a"}, "unknown option --user", "sync"},
      {{"sync", "--folder", "d", "--allow-deletes", "--restore-held"},
       "--allow-deletes and --restore-held are two answers; give one",
       "--restore-held"},
      {{"status", "extra"}, "unexpected argument 'extra'", "status"},
      {{"exclude"}, "exclude needs list, add or remove", "exclude list"},
      {{"exclude", "drop", "x"}, "unknown exclude action 'drop'", "exclude list"},
      {{"exclude", "add"}, "exclude add needs REMOTE_PATH", "exclude list"},
      {{"link"}, "link needs LOCAL_PATH", "link LOCAL_PATH"},
      {{"--data"}, "--data needs a folder", "Commands:"},
  };
  for (const Case& c : cases) {
    ParseResult r = parse(c.args);
    EXPECT_EQ(r.error.rfind(std::string("varnelocmd: ") + c.reason + "\n", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(c.usage), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace varnelo::cli
