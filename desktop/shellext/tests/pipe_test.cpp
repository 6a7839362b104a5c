// The replacement pipe: claiming numbers, the three commands, what is
// ignored, and a replacement that reaches a second process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <vector>

#include <platform/local_pipe.h>
#include "Fixture.h"
#include "PipeServer.h"

extern char** environ;

namespace varnelo::shellext::test {
namespace {

class PipeTest : public ShellExtTest {
 protected:
  void SetUp() override {
    ShellExtTest::SetUp();
    state_.setObserver([this](bool loaded) {
      std::lock_guard lock(mutex_);
      events_.push_back(loaded);
    });
  }
  void TearDown() override {
    server_.stop();
    ShellExtTest::TearDown();
  }
  void startServer() {
    server_.start();
    ASSERT_TRUE(waitFor([&] { return server_.ready(); }));
  }
  std::vector<bool> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void clearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  bool send(std::string_view message, int number = 1) {
    return sendPipeCommand(pipeName(number), message);
  }
  static std::string replace(const std::string& path) { return "0" + path + std::string(1, '\0'); }
  int32_t priority(IShellIconOverlayIdentifier* o) {
    int32_t p = -1;
    return o->lpVtbl->GetPriority(o, &p) == VARNELO_S_OK ? p : -1;
  }

  PipeServer server_{state_};
  std::mutex mutex_;  // guards events_ (written by the pipe thread)
  std::vector<bool> events_;
};

TEST_F(PipeTest, ReplaceLoadsTheNewLibraryAndLoadWhileLoadedDoesNothing) {
  install("v1");
  startServer();
  EXPECT_EQ(server_.number(), 1);
  EXPECT_TRUE(state_.loaded());
  IShellIconOverlayIdentifier* o = overlay();
  EXPECT_EQ(priority(o), 1);
  clearEvents();

  ASSERT_TRUE(send(std::string("1", 2)));  // loaded already: nothing happens
  ASSERT_TRUE(send(replace(fake("v2"))));
  ASSERT_TRUE(waitFor([&] { return events().size() >= 2; }));
  EXPECT_EQ(events(), (std::vector<bool>{false, true}));
  EXPECT_EQ(priority(o), 2);  // the same proxy answers from the new library
  o->lpVtbl->Release(o);
}

TEST_F(PipeTest, FailedCopyLeavesProxiesFailingUntilALoad) {
  install("v1");
  startServer();
  IShellIconOverlayIdentifier* o = overlay();
  EXPECT_EQ(priority(o), 1);
  clearEvents();

  // Ignored: too long, a path that is not UTF-8, an empty path, unknown.
  ASSERT_TRUE(send("0/" + std::string(VARNELO_SHELLEXT_PIPE_MAX_MESSAGE, 'a')));
  ASSERT_TRUE(send(std::string("0/tmp/\xff\xfe.so\0", 12)));
  ASSERT_TRUE(send("0"));
  ASSERT_TRUE(send("x"));
  ASSERT_TRUE(send(replace(dir_ + "/no-such-library.so")));
  ASSERT_TRUE(waitFor([&] { return !events().empty(); }));
  EXPECT_EQ(events(), std::vector<bool>{false});  // only the last one acted
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_E_FAIL);
  ASSERT_TRUE(send("1"));
  ASSERT_TRUE(waitFor([&] { return events().size() == 2; }));
  EXPECT_EQ(priority(o), 1);  // the library that was there
  o->lpVtbl->Release(o);
}

TEST_F(PipeTest, StopUnloadsAndFreesTheNumber) {
  install("v1");
  startServer();
  EXPECT_TRUE(platform::pipeServed(pipeName(1)));
  server_.stop();
  EXPECT_FALSE(state_.loaded());
  EXPECT_FALSE(platform::pipeServed(pipeName(1)));
  // The number is free for the next one.
  PipeServer again(state_);
  again.start();
  ASSERT_TRUE(waitFor([&] { return again.ready(); }));
  EXPECT_EQ(again.number(), 1);
}

TEST_F(PipeTest, WithoutAFreeNumberTheImplementationStaysLoaded) {
  install("v1");
  std::vector<std::unique_ptr<platform::PipeServer>> taken;
  for (int n = 1; n <= 99; ++n) {
    taken.push_back(std::make_unique<platform::PipeServer>());
    ASSERT_FALSE(taken.back()->listen(pipeName(n)));
  }
  startServer();
  EXPECT_EQ(server_.number(), 0);
  EXPECT_TRUE(state_.loaded());
  server_.stop();
  EXPECT_TRUE(state_.loaded());
}

// A second process with the extension: its output lines come through a pipe.
class Peer {
 public:
  explicit Peer(const std::string& implementation) {
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>(PEER_PROGRAM), const_cast<char*>(implementation.c_str()),
                    nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, PEER_PROGRAM, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Peer() {
    ::close(stdin_);  // the peer stops when its input closes
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ::close(stdout_);
  }
  // Waits (with a deadline) for the line `line`.
  bool waitForLine(const std::string& line) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      for (size_t nl; (nl = buffer_.find('\n')) != std::string::npos;) {
        const std::string got = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        if (got == line) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char chunk[256];
      const ssize_t got = ::read(stdout_, chunk, sizeof chunk);
      if (got <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(got));
    }
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
};

TEST_F(PipeTest, ReplacementThroughNumberOneReachesNumberTwo) {
  startServer();  // no library yet anywhere
  ASSERT_EQ(server_.number(), 1);
  Peer peer(implementation_);
  ASSERT_TRUE(peer.waitForLine("number 2"));

  ASSERT_TRUE(send(replace(fake("v1")), 1));
  ASSERT_TRUE(peer.waitForLine("loaded"));  // told "1" by number 1
  EXPECT_TRUE(state_.loaded());
}

}  // namespace
}  // namespace varnelo::shellext::test
