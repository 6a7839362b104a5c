// The real `varnelo` as a process: one instance, hand-over through the real
// pipe, the switches, the dropped lines, "-closepipe", and the order of the
// shutdown. Not signed in (no service): the program waits for a login.
#include <gtest/gtest.h>

#include <csignal>

#include "DesktopEnv.h"
#include "HandOverServer.h"
#include "WaitFor.h"
#include "platform/local_pipe.h"

namespace varnelo::test {
namespace {

using varnelo::desktop::kHandOverPipe;
using varnelo::desktop::test::waitFor;

std::unique_ptr<AppProcess> startServing(DesktopEnv& env) {
  auto first = env.start();
  EXPECT_TRUE(first->started());
  EXPECT_TRUE(waitFor([&] { return platform::pipeServed(kHandOverPipe) || !first->running(); }))
      << first->output();
  return first;
}

void expectShutdownOrder(const std::string& out) {
  size_t at = 0;
  for (const char* line : {"stopping the file state worker", "stopping the scheduler",
                           "stopping the pipe server", "stopping sync", "engine released"}) {
    size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    at = found;
  }
}

TEST(DesktopProcessTest, VersionAndASecondInstanceHandingOverQuit) {
  DesktopEnv env;
  int code = -1;
  {
    AppProcess version({varneloBinary(), "--version"}, env.env(), env.file("logs/version.log"));
    ASSERT_TRUE(version.wait(10000, &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(version.output(), "varnelo " VARNELO_VERSION "\n");
  }
  auto first = startServing(env);
  ASSERT_TRUE(first->running()) << first->output();
  EXPECT_EQ(env.second({}), 255);  // nothing to show: it hands over and exits -1
  EXPECT_TRUE(waitFor([&] { return first->output().find("handed over []") != std::string::npos; }));
  EXPECT_TRUE(first->running());

  EXPECT_EQ(env.second({"-quit"}), 255);
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(first->wait(2000, &code)) << first->output();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(code, 0);
  expectShutdownOrder(first->output());

  // With nobody running, "-quit" starts an instance of its own.
  auto alone = env.start({"-quit"}, "alone.log");
  EXPECT_TRUE(waitFor([&] { return platform::pipeServed(kHandOverPipe); })) << alone->output();
  EXPECT_TRUE(alone->running());
  alone->kill(SIGTERM);  // a session's end: the same orderly exit
  ASSERT_TRUE(alone->wait(5000, &code));
  EXPECT_EQ(code, 0);
  expectShutdownOrder(alone->output());
}

TEST(DesktopProcessTest, LongLinesAreDroppedAndClosePipeEndsTheServer) {
  DesktopEnv env;
  auto first = startServing(env);
  ASSERT_TRUE(first->running());
  EXPECT_EQ(env.second({std::string(1024, 'x')}), 255);
  EXPECT_TRUE(waitFor([&] { return first->output().find("dropped") != std::string::npos; }))
      << first->output();
  EXPECT_EQ(env.second({std::string(1023, 'y')}), 255);
  EXPECT_TRUE(
      waitFor([&] { return first->output().find("handed over [yyy") != std::string::npos; }));
  EXPECT_EQ(first->output().find("handed over [xxx"), std::string::npos);

  ASSERT_FALSE(platform::pipeSend(kHandOverPipe, "-closepipe"));
  ASSERT_TRUE(waitFor([&] { return !platform::pipeServed(kHandOverPipe); }));
  EXPECT_EQ(env.second({"-quit"}, "late.log"), 255);  // cannot hand over any more
  EXPECT_TRUE(first->running());
  first->kill(SIGTERM);
  int code = -1;
  ASSERT_TRUE(first->wait(5000, &code));
  EXPECT_EQ(code, 0);
}

TEST(DesktopProcessTest, UninstAndUpgradeEndTheRunningInstance) {
  DesktopEnv env;
  int code = -1;
  {
    auto first = startServing(env);
    EXPECT_EQ(env.second({"-uninst"}), 255);
    ASSERT_TRUE(first->wait(10000, &code)) << first->output();  // bounded waits, a loaded machine
    EXPECT_EQ(code, 0);
  }
  {
    auto first = startServing(env);
    EXPECT_EQ(env.second({"-upgrade"}), 255);
    // It says so for two seconds first, still serving its event loop.
    EXPECT_FALSE(first->wait(1000, &code));
    ASSERT_TRUE(first->wait(5000, &code)) << first->output();
    EXPECT_EQ(code, 0);
    expectShutdownOrder(first->output());
  }
}

}  // namespace
}  // namespace varnelo::test
