// The canned-reply server that other modules' tests use for replies the real
// service never sends: bytes go out exactly as set, requests are recorded.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CannedServer.h"
#include "TestClient.h"

namespace varnelo::test {
namespace {

TEST(CannedServerTest, AnswersEachPathAsSetAndRecordsRequests) {
  CannedServer canned;
  ASSERT_TRUE(canned.started());
  TestClient client;
  canned.set("/get", 409, R"({"code":4})");
  canned.setRaw("/info", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"cut");

  Reply conflict = client.plain("POST", canned.base() + "/get?x=1", "{\"path\":\"home\"}",
                                {"Content-Type: application/octet-stream"});
  EXPECT_EQ(conflict.status, 409);
  EXPECT_EQ(conflict.json["code"].asInt(), 4);
  Reply cut = client.plain("POST", canned.base() + "/info", "null");
  EXPECT_NE(cut.curlCode, 0) << "the announced length never arrives";
  EXPECT_EQ(client.plain("GET", canned.base() + "/other", "").status, 404);

  auto requests = canned.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/get?x=1");
  EXPECT_EQ(requests[0].body, "{\"path\":\"home\"}");
  EXPECT_EQ(requests[0].header("content-type"), "application/octet-stream");
  EXPECT_EQ(canned.requestCount("/get"), 1u);
}

// A crashed or killed test must not leave its service running.
TEST(ServiceProcessTest, ServiceEndsWithTheTestProcess) {
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t test = fork();
  if (test == 0) {
    ServiceProcess service;
    pid_t pid = service.started() ? service.pid() : -1;
    char folder[256] = {};
    snprintf(folder, sizeof folder, "%s", service.dataDir().c_str());
    (void)!write(report[1], &pid, sizeof pid);
    (void)!write(report[1], folder, sizeof folder);
    _exit(0);  // no destructor runs
  }
  close(report[1]);
  pid_t service = -1;
  char folder[256] = {};
  ASSERT_EQ(read(report[0], &service, sizeof service), static_cast<ssize_t>(sizeof service));
  ASSERT_EQ(read(report[0], folder, sizeof folder), static_cast<ssize_t>(sizeof folder));
  close(report[0]);
  waitpid(test, nullptr, 0);
  ASSERT_GT(service, 0);
  auto gone = [service] {
    std::ifstream stat("/proc/" + std::to_string(service) + "/stat");
    std::string pid, name, state;
    return !(stat >> pid >> name >> state) || state == "Z";
  };
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!gone() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling a process state
  }
  EXPECT_TRUE(gone());
  std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}

}  // namespace
}  // namespace varnelo::test
