#include "platform/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "test_folder.h"

using platform::RecordingLauncher;
using platform::testing::ScopedEnv;
using platform::testing::TempFolder;
using platform::testing::waitFor;
using Call = RecordingLauncher::Call;
using Verb = RecordingLauncher::Verb;

TEST(ShellTest, RecorderStandsInForTheSystemAndPowerOffGoesThroughIt) {
  EXPECT_EQ(&platform::currentLauncher(), &platform::systemLauncher());
  {
    RecordingLauncher recorder;
    platform::ScopedLauncher use(recorder);
    EXPECT_EQ(&platform::currentLauncher(), &recorder);
    EXPECT_FALSE(platform::currentLauncher().open("https://example.com/a?b=1"));
    EXPECT_FALSE(platform::currentLauncher().runElevated("/tmp/setup.run", {"--silent"}));
    {
      ScopedEnv unset("VARNELO_POWEROFF_COMMAND", nullptr);
      EXPECT_FALSE(platform::powerOff());
    }
    {
      ScopedEnv command("VARNELO_POWEROFF_COMMAND", "  /usr/bin/touch \t/tmp/off  ");
      recorder.setResult(std::make_error_code(std::errc::permission_denied));
      EXPECT_EQ(platform::powerOff(), std::errc::permission_denied);
    }
    {
      ScopedEnv blank("VARNELO_POWEROFF_COMMAND", "   ");
      EXPECT_EQ(platform::powerOffCommand(), (std::vector<std::string>{"systemctl", "poweroff"}));
    }
    EXPECT_TRUE(recorder.waitForCalls(4, 0));
    EXPECT_EQ(recorder.calls(),
              (std::vector<Call>{{Verb::Open, "https://example.com/a?b=1", {}},
                                 {Verb::RunElevated, "/tmp/setup.run", {"--silent"}},
                                 {Verb::Run, "systemctl", {"poweroff"}},
                                 {Verb::Run, "/usr/bin/touch", {"/tmp/off"}}}));
  }
  EXPECT_EQ(&platform::currentLauncher(), &platform::systemLauncher());
}

// The real launcher against stand-ins for xdg-open (found first in PATH)
// and pkexec (named in its place: PATH never decides what elevates), so
// that nothing real is opened or elevated.
TEST(ShellTest, SystemLauncherPassesArgumentsVerbatimWithoutAShell) {
  TempFolder dir;
  for (const char* name : {"xdg-open", "pkexec"}) {
    const std::string script = dir / name;
    ASSERT_FALSE(platform::files::writeFile(
        script, std::string("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args.tmp\" && mv "
                            "\"$0.args.tmp\" \"$0.args\"\n")));
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  }
  const std::string path = dir.path() + ":/usr/bin:/bin";
  ScopedEnv usePath("PATH", path.c_str());
  const auto launcher = platform::makeSystemLauncher(dir / "pkexec");
  platform::ShellLauncher& shell = *launcher;

  const std::string odd = dir / "a b; touch $(echo x) 'q'";
  ASSERT_FALSE(shell.run("touch", {odd}));
  EXPECT_TRUE(waitFor([&] { return platform::files::exists(odd); }));
  EXPECT_FALSE(platform::files::exists(dir / "x"));

  ASSERT_FALSE(shell.open("/home/u/My Sync/"));
  std::string args;
  ASSERT_TRUE(waitFor([&] { return !platform::files::readFile(dir / "xdg-open.args", args); }));
  EXPECT_EQ(args, "/home/u/My Sync/\n");

  ASSERT_FALSE(shell.runElevated("/opt/varnelo/setup.run", {"--silent", "--autoupdate"}));
  ASSERT_TRUE(waitFor([&] { return !platform::files::readFile(dir / "pkexec.args", args); }));
  EXPECT_EQ(args, "/opt/varnelo/setup.run\n--silent\n--autoupdate\n");

  EXPECT_EQ(shell.run("no-such-program-here", {}), std::errc::no_such_file_or_directory);
  EXPECT_EQ(shell.run("", {}), std::errc::invalid_argument);
  EXPECT_EQ(shell.open("--help"), std::errc::invalid_argument);
  EXPECT_EQ(shell.open(""), std::errc::invalid_argument);
}
