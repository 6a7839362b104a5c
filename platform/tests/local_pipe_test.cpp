#include "platform/local_pipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "test_folder.h"

using platform::PipeServer;
using platform::testing::ScopedEnv;
using platform::testing::TempFolder;
using platform::testing::waitFor;

namespace {

const char kAppPipe[] = "{C27A6189-DF1C-467b-9E40-233BF6A2BF67}";

// What a server saw, filled on its thread and read by the test.
struct Seen {
  std::mutex mutex;  // guards both vectors
  std::vector<std::string> messages;
  std::vector<std::string> logs;

  PipeServer::Handler handler() {
    return [this](std::string_view message, std::string& reply) {
      std::lock_guard lock(mutex);
      messages.emplace_back(message);
      if (message.substr(0, 5) == "echo ") reply = std::string(message.substr(5));
      return message != "-closepipe";
    };
  }
  PipeServer::Log log() {
    return [this](std::string_view line) {
      std::lock_guard lock(mutex);
      logs.emplace_back(line);
    };
  }
  size_t messageCount() {
    std::lock_guard lock(mutex);
    return messages.size();
  }
  size_t logCount() {
    std::lock_guard lock(mutex);
    return logs.size();
  }
};

class LocalPipe : public ::testing::Test {
 protected:
  TempFolder base_;
  ScopedEnv env_{"XDG_RUNTIME_DIR", base_.path().c_str()};
  Seen seen_;
};

}  // namespace

TEST_F(LocalPipe, MessagesRepliesAndCloseMessage) {
  PipeServer server;
  server.setLog(seen_.log());
  ASSERT_FALSE(server.listen(kAppPipe));
  EXPECT_EQ(server.path(), base_ / "varnelo/C27A6189-DF1C-467b-9E40-233BF6A2BF67.sock");
  ASSERT_FALSE(server.start(seen_.handler()));
  EXPECT_TRUE(platform::pipeServed(kAppPipe));

  ASSERT_FALSE(platform::pipeSend(kAppPipe, "-extlink /home/u/Sync/a b.txt"));
  std::string reply;
  ASSERT_FALSE(platform::pipeCall(kAppPipe, "echo 你好", reply));
  EXPECT_EQ(reply, "你好");
  ASSERT_FALSE(platform::pipeCall(kAppPipe, "no reply", reply));
  EXPECT_EQ(reply, "");

  ASSERT_FALSE(platform::pipeSend(kAppPipe, "-closepipe"));
  ASSERT_TRUE(waitFor([&] { return !server.listening(); }));
  server.stop();
  EXPECT_FALSE(platform::files::exists(server.path()));
  EXPECT_TRUE(platform::pipeSend(kAppPipe, "-quit"));
  EXPECT_FALSE(platform::pipeServed(kAppPipe));

  std::lock_guard lock(seen_.mutex);
  EXPECT_EQ(seen_.messages, (std::vector<std::string>{"-extlink /home/u/Sync/a b.txt", "echo 你好",
                                                      "no reply", "-closepipe"}));
  EXPECT_TRUE(seen_.logs.empty());
}

TEST_F(LocalPipe, OversizedInvalidAndSilentClientsAreDropped) {
  PipeServer server;
  server.setLog(seen_.log());
  ASSERT_FALSE(server.listen(kAppPipe, {.maxMessage = 2048, .readTimeoutMillis = 100}));
  ASSERT_FALSE(server.start(seen_.handler()));

  ASSERT_FALSE(platform::pipeSend(kAppPipe, std::string(2048, 'a')));  // fits exactly
  ASSERT_FALSE(platform::pipeSend(kAppPipe, std::string(2049, 'b')));
  ASSERT_FALSE(platform::pipeSend(kAppPipe, "bad \xff\xfe"));
  {
    // Connects and says nothing: the server gives up on it and goes on.
    std::string path = server.path();
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_TRUE(waitFor([&] { return seen_.logCount() == 3; }));
    close(fd);
  }
  ASSERT_FALSE(platform::pipeSend(kAppPipe, "after"));
  ASSERT_TRUE(waitFor([&] { return seen_.messageCount() == 2; }));
  server.stop();
  EXPECT_FALSE(server.listening());

  std::lock_guard lock(seen_.mutex);
  EXPECT_EQ(seen_.messages, (std::vector<std::string>{std::string(2048, 'a'), "after"}));
  ASSERT_EQ(seen_.logs.size(), 3u);
  EXPECT_NE(seen_.logs[0].find("2049 bytes"), std::string::npos) << seen_.logs[0];
  EXPECT_NE(seen_.logs[1].find("UTF-8"), std::string::npos) << seen_.logs[1];
  EXPECT_NE(seen_.logs[2].find("sent nothing"), std::string::npos) << seen_.logs[2];
}

TEST_F(LocalPipe, NamesAreClaimedOnceAndStaleSocketsReplaced) {
  // Numbered pipes: each server takes the first free number.
  const std::string pattern = "{52AE308F-1E38-4870-9D78-D5714C47A7D8}-";
  std::vector<std::unique_ptr<PipeServer>> servers;
  std::vector<int> numbers;
  for (int round = 0; round < 3; ++round) {
    auto server = std::make_unique<PipeServer>();
    for (int n = 1; n <= 99; ++n) {
      if (!server->listen(pattern + std::to_string(n))) {
        numbers.push_back(n);
        break;
      }
    }
    servers.push_back(std::move(server));
  }
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
  PipeServer again;
  EXPECT_EQ(again.listen(pattern + "2"), std::errc::address_in_use);
  EXPECT_TRUE(platform::files::exists(servers[1]->path())) << "a refused claim removes nothing";
  servers[1].reset();
  EXPECT_FALSE(again.listen(pattern + "2"));

  // A socket file whose server died without removing it.
  std::string path;
  ASSERT_FALSE(platform::pipePath(kAppPipe, path));
  int dead = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  path.copy(addr.sun_path, path.size());
  ASSERT_EQ(bind(dead, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(dead);
  EXPECT_TRUE(platform::pipeSend(kAppPipe, "x")) << "nobody listens";
  PipeServer server;
  ASSERT_FALSE(server.listen(kAppPipe));
  ASSERT_FALSE(server.start(seen_.handler()));
  ASSERT_FALSE(platform::pipeSend(kAppPipe, "x"));
  ASSERT_TRUE(waitFor([&] { return seen_.messageCount() == 1; }));

  PipeServer invalid;
  EXPECT_EQ(invalid.listen("{}"), std::errc::invalid_argument);
  EXPECT_EQ(invalid.start(seen_.handler()), std::errc::not_connected);
}

TEST_F(LocalPipe, ServesOnTheCallersThreadUntilStopped) {
  PipeServer server;
  ASSERT_FALSE(server.listen(kAppPipe));
  std::thread sender([&] {
    EXPECT_FALSE(platform::pipeSend(kAppPipe, "one"));
    EXPECT_TRUE(waitFor([&] { return seen_.messageCount() == 1; }));
    server.stop();
  });
  server.serve(seen_.handler());
  sender.join();
  EXPECT_FALSE(server.listening());
  EXPECT_EQ(seen_.messageCount(), 1u);
  // The server can listen again after it stopped.
  ASSERT_FALSE(server.listen(kAppPipe));
  ASSERT_FALSE(server.start(seen_.handler()));
  ASSERT_FALSE(platform::pipeSend(kAppPipe, "two"));
  ASSERT_TRUE(waitFor([&] { return seen_.messageCount() == 2; }));
}

TEST_F(LocalPipe, ClientsOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  PipeServer server;
  server.setLog(seen_.log());
  ASSERT_FALSE(server.listen(kAppPipe));
  ASSERT_FALSE(server.start(seen_.handler()));
  // Open the way for the other user, which the private folder normally bars.
  ASSERT_EQ(chmod(platform::files::parentPath(server.path()).c_str(), 0711), 0);
  ASSERT_EQ(chmod(server.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod(base_.path().c_str(), 0711), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    // Straight to the socket: our own client would refuse a folder owned by
    // someone else before connecting.
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    server.path().copy(addr.sun_path, server.path().size());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) _exit(3);
    // The server may already have closed it: a failed send is fine too.
    [[maybe_unused]] ssize_t sent = send(fd, "-quit", 5, MSG_NOSIGNAL);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "the other user could not even connect";
  ASSERT_TRUE(waitFor([&] { return seen_.logCount() == 1; }));
  EXPECT_EQ(seen_.messageCount(), 0u);
  std::lock_guard lock(seen_.mutex);
  EXPECT_NE(seen_.logs[0].find("another user (uid 65534"), std::string::npos) << seen_.logs[0];
}
