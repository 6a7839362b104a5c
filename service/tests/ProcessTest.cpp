// The service as a program: first start in an empty folder, add-user while it
// runs, many clients at once, and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <thread>

#include "TestClient.h"

extern char** environ;

namespace varnelo::test {
namespace {

int runAddUser(const std::string& dataDir, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {serviceBinary(), "add-user", "--data", dataDir};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, serviceBinary(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcessTest, FirstStartCreatesItsFilesAndAddUserWorksWhileRunning) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  struct stat st {};
  ASSERT_EQ(stat((service.dataDir() + "/admin.token").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(stat(service.caPath().c_str(), &st), 0);
  EXPECT_EQ(service.adminToken().size(), 48u);

  EXPECT_EQ(
      runAddUser(service.dataDir(), {"--user", "carol", "--password", "pw", "--quota", "1000"}), 0);
  EXPECT_NE(runAddUser(service.dataDir(), {"--user", "x", "--password", "pw", "--state", "odd"}),
            0);
  TestClient client(service);
  ASSERT_TRUE(client.signIn("carol", "pw")) << "the running service sees the new user";
  EXPECT_EQ(client.call("/info", Json::Value()).json["total"].asString(), "1000");

  // The certificate names localhost too and verifies against ca.pem.
  Reply local =
      client.plain("GET", "https://localhost:" + std::to_string(service.httpsPort()) + "/", "");
  EXPECT_EQ(local.status, 200) << "curl code " << local.curlCode;

  std::string reply;
  EXPECT_EQ(service.admin("GET", "/admin/counters", "", &reply), 200);
  EXPECT_TRUE(service.stop()) << "exit status 0 after SIGTERM";
}

TEST(ProcessTest, AdminApiNeedsItsToken) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  TestClient client(service);
  EXPECT_EQ(client.plain("GET", service.httpBase() + "/admin/counters", "").status, 401);
  EXPECT_EQ(client.plain("GET", service.httpBase() + "/admin/counters", "", {"X-Admin-Token: nope"})
                .status,
            401);
  ASSERT_TRUE(service.publishUpdate("2.0.1", "installer bytes"));
  Reply manifest = client.plain("GET", service.httpBase() + "/update/varnelo-win/version.dat", "");
  ASSERT_EQ(manifest.status, 200);
  EXPECT_EQ(manifest.json["x86"]["version"].asString(), "2.0.1");
  EXPECT_EQ(client.plain("GET", manifest.json["x86"]["url"].asString(), "").body,
            "installer bytes");
  EXPECT_EQ(client.plain("POST", service.httpBase() + "/", "device log").json["code"].asInt(), 0);
  Json::Value logs;
  ASSERT_TRUE(service.logUploads(&logs));
  EXPECT_EQ(logs["logs"][0]["text"].asString(), "device log");
}

TEST(ProcessTest, SixteenClientsUploadAndListAtOnce) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("many", "pw"));
  constexpr int kClients = 16;
  std::vector<int> failures(kClients, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      TestClient client(service);
      if (!client.signIn("many", "pw")) {
        ++failures[t];
        return;
      }
      for (int i = 0; i < 8; ++i) {
        std::string content(70000 + t * 100 + i, static_cast<char>('a' + t));
        std::string path = "home/t" + std::to_string(t) + "/f" + std::to_string(i);
        if (client.upload(path, content, 65536).status != 200) ++failures[t];
        Json::Value body;
        body["path"] = "home/t" + std::to_string(t);
        body["list"] = 1;
        if (client.call("/get", body).json["entries"].size() != static_cast<unsigned>(i + 1))
          ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kClients; ++t) EXPECT_EQ(failures[t], 0) << "client " << t;
  Json::Value tree;
  ASSERT_TRUE(service.dumpTree("many", &tree));
  EXPECT_EQ(tree["entries"].size(), static_cast<unsigned>(kClients * 9));
}

// Small puts from several clients at once, some of content already stored,
// then the service is killed mid-stream: after the restart every put that
// was answered 200 is there with its bytes.
TEST(ProcessTest, EveryAcknowledgedSmallPutSurvivesAKill) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("crash", "pw"));
  constexpr int kClients = 4;
  std::mutex mutex;
  std::condition_variable enough;
  std::map<std::string, std::string> acknowledged;  // path -> content
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      TestClient client(service);
      if (!client.signIn("crash", "pw")) return;
      for (int i = 0; i < 400; ++i) {
        // Every third file repeats an earlier one's bytes (a stored chunk).
        int seed = i % 3 == 2 ? i - 1 : i;
        std::string content(1000 + seed, static_cast<char>('a' + t));
        content += std::to_string(t * 1000 + seed);
        std::string path = "home/c" + std::to_string(t) + "/f" + std::to_string(i);
        std::string url = service.httpBase() + "/2/put?path=" + path +
                          "&key=" + urlSafeBase64(sha1Bytes(content)) +
                          "&fileSize=" + std::to_string(content.size()) +
                          "&base=&chunkSize=4194304&mimeType=&editTime=";
        Reply r = client.send("PUT", url, content, client.accessSigning());
        if (r.status != 200) return;  // the service is gone
        std::lock_guard<std::mutex> lock(mutex);
        acknowledged[path] = content;
        enough.notify_all();
      }
    });
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(enough.wait_for(lock, std::chrono::seconds(60),
                                [&] { return acknowledged.size() >= 300; }));
    kill(service.pid(), SIGKILL);
  }
  for (auto& th : threads) th.join();
  ASSERT_TRUE(service.restart()) << service.error();
  TestClient client(service);
  ASSERT_TRUE(client.signIn("crash", "pw"));
  for (const auto& [path, content] : acknowledged) {
    Json::Value body;
    body["path"] = path;
    body["base"] = "";
    body["list"] = 0;
    body["showType"] = 0;
    Reply r = client.call("/get", body);
    ASSERT_EQ(r.status, 200) << path;
    EXPECT_EQ(r.json["data"].asString(), urlSafeBase64(content)) << path;
  }
}

}  // namespace
}  // namespace varnelo::test
