// The real `varnelo`, headless, with a stored token against a real
// varnelo-service: it signs in, syncs both ways (another computer is an
// engine of this test), keeps statecache.db, refuses a second front end on
// its data folder and ends on "-quit" from a later instance.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sqlite3.h>

#include <map>

#include "DesktopEnv.h"
#include "HandOverServer.h"
#include "ServiceProcess.h"
#include "WaitFor.h"
#include "platform/files.h"
#include "platform/local_pipe.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/SyncState.h"
#include "varnelo/account.h"

namespace varnelo::test {
namespace {

namespace files = platform::files;
using varnelo::desktop::kHandOverPipe;
using varnelo::desktop::test::waitFor;

const varnelo_token_pair kConsumer{VARNELO_CONSUMER_KEY, VARNELO_CONSUMER_SECRET};

struct Releaser {
  void operator()(IVarnelo2* e) const {
    if (e) e->release();
  }
};
using Engine = std::unique_ptr<IVarnelo2, Releaser>;

class NoEvents : public IVarneloEvent {
 public:
  void downloaded(const char*) override {}
  void uploaded(const char*) override {}
  void statusChanged(int32_t) override {}
  void fileStateChanged(const char*, int32_t) override {}
  void result(int32_t, const char*) override {}
};

// Signs an engine over `dataFolder` in and mounts `syncFolder`: what the
// wizard leaves behind.
Engine signedInEngine(const std::string& dataFolder, const std::string& syncFolder,
                      IVarneloEvent* sink) {
  files::createDirectories(dataFolder, 0700);
  files::createDirectories(syncFolder);
  IVarnelo2* raw = nullptr;
  EXPECT_EQ(varnelo_new2(dataFolder.c_str(), &raw), 200);
  Engine engine(raw);
  if (!engine) return engine;
  engine->setEventSink(sink);
  varnelo_token_pair* token = nullptr;
  EXPECT_EQ(varnelo_auth_quick_token("alice", "pw", &kConsumer, &token, "native"), 200);
  if (!token) return Engine();
  EXPECT_EQ(engine->login("alice", &kConsumer, token), 200);
  varnelo_destroy_inner_token(token);
  EXPECT_EQ(engine->mountVolume("/home", syncFolder.c_str()), 200);
  return engine;
}

bool serviceHas(ServiceProcess& service, const std::string& path) {
  Json::Value tree;
  if (!service.dumpTree("alice", &tree)) return false;
  for (const Json::Value& e : tree["entries"]) {
    if (e["path"].asString().find(path) != std::string::npos) return true;
  }
  return false;
}

// The rows of statecache.db as a reader in another process sees them.
std::map<std::string, int> stateRows(const std::string& path) {
  std::map<std::string, int> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "select local_path, sync_state from file_state_cache;", -1, &s,
                           nullptr) == SQLITE_OK) {
      while (sqlite3_step(s) == SQLITE_ROW) {
        rows[reinterpret_cast<const char*>(sqlite3_column_text(s, 0))] = sqlite3_column_int(s, 1);
      }
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return rows;
}

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

TEST(DesktopE2eTest, SignsInSyncsBothWaysKeepsTheStateCacheAndQuits) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("alice", "pw"));
  service.exportEnvironment();
  setenv("VARNELO_REMOTE_POLL_MS", "500", 1);

  DesktopEnv env;
  const std::string folder = env.file("home/Varnelo");
  NoEvents quiet;
  signedInEngine(env.dataFolder(), folder, &quiet).reset();  // token stored, folder mounted

  auto app = env.start();
  ASSERT_TRUE(waitFor([&] { return platform::pipeServed(kHandOverPipe) || !app->running(); }))
      << app->output();
  ASSERT_TRUE(app->running()) << app->output();

  // A second front end on the same data folder is told who has it.
  const std::string cmdLog = env.file("logs/varnelocmd.log");
  int cmdCode = runToEnd(
      {VARNELOCMD_BINARY, "--data", env.dataFolder(), "sync", "--folder", folder, "--once"},
      env.env(), cmdLog, 20000);
  std::string cmdOut;
  files::readFile(cmdLog, cmdOut);
  EXPECT_EQ(cmdCode, 1);
  EXPECT_NE(cmdOut.find("varnelo (pid " + std::to_string(app->pid()) + ")"), std::string::npos)
      << cmdOut;

  // Up: a file put into the folder.
  ASSERT_FALSE(files::createDirectories(folder + "/Docs"));
  ASSERT_FALSE(files::writeFile(folder + "/Docs/Report.txt", "from the desktop"));
  ASSERT_TRUE(
      waitFor([&] { return serviceHas(service, "Docs/Report.txt"); }, std::chrono::seconds(60)))
      << app->output();

  // Down: a file another computer put on the service.
  const std::string otherFolder = env.file("other/Varnelo");
  Engine other = signedInEngine(env.file("other/data"), otherFolder, &quiet);
  ASSERT_TRUE(other);
  ASSERT_EQ(other->startSync(false), 200);
  ASSERT_FALSE(files::writeFile(otherFolder + "/from-other.txt", "hello"));
  ASSERT_TRUE(
      waitFor([&] { return serviceHas(service, "from-other.txt"); }, std::chrono::seconds(60)));
  ASSERT_TRUE(waitFor([&] { return files::isRegularFile(folder + "/from-other.txt"); },
                      std::chrono::seconds(60)))
      << app->output();
  other->stopSync(false);
  other.reset();

  // The states, as the file manager's side reads them: files in step, the
  // folder rows made for them.
  const std::string root = lower(folder) + "/";
  ASSERT_TRUE(waitFor(
      [&] {
        auto rows = stateRows(env.dataFolder() + "/statecache.db");
        return rows.count(root + "docs/report.txt") && rows[root + "docs/report.txt"] == 0 &&
               rows.count(root + "from-other.txt") && rows[root + "from-other.txt"] == 0;
      },
      std::chrono::seconds(30)));
  auto rows = stateRows(env.dataFolder() + "/statecache.db");
  EXPECT_EQ(rows.count(root), 1u);
  EXPECT_EQ(rows.count(root + "docs/"), 1u);
  EXPECT_EQ(rows[root + "docs/"], 0);

  // The daily report went out at start, through the log service.
  Json::Value logs;
  ASSERT_TRUE(service.logUploads(&logs));
  bool reported = false;
  for (const Json::Value& l : logs["logs"]) {
    const std::string text = l["text"].asString();
    if (text.find("\"p\":\"1001\"") != std::string::npos &&
        text.find("\"v\":\"" VARNELO_VERSION " Beta\"") != std::string::npos) {
      reported = true;
    }
  }
  EXPECT_TRUE(reported) << logs.toStyledString();

  // No window is showing: a later start without arguments opens the folder;
  // "-extlink" publishes a share link and opens it (the test's xdg-open
  // records both).
  auto opened = [&] {
    std::string text;
    files::readFile(env.openedLog(), text);
    return text;
  };
  EXPECT_EQ(env.second({}), 255);
  ASSERT_TRUE(waitFor([&] { return opened().find(folder + "\n") != std::string::npos; }))
      << opened() << app->output();
  EXPECT_EQ(env.second({"-extlink", folder + "/Docs/Report.txt"}), 255);
  ASSERT_TRUE(waitFor([&] { return opened().find("/link?id=") != std::string::npos; }))
      << opened() << app->output();
  EXPECT_NE(opened().find(service.httpBase() + "/link?id="), std::string::npos) << opened();
  EXPECT_NE(opened().find("&from=pc"), std::string::npos) << opened();

  EXPECT_EQ(env.second({"-quit"}), 255);
  int code = -1;
  ASSERT_TRUE(app->wait(10000, &code)) << app->output();
  EXPECT_EQ(code, 0) << app->output();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((env.dataFolder() + "/statecache.db").c_str(), &db,
                            SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "select value from config where key = 'running';", -1, &s, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "0");
  sqlite3_finalize(s);
  sqlite3_close(db);

  // And the other way round: with varnelocmd syncing, varnelo says so and leaves.
  AppProcess cmd({VARNELOCMD_BINARY, "--data", env.dataFolder(), "sync", "--folder", folder},
                 env.env(), env.file("logs/cmd-sync.log"));
  ASSERT_TRUE(
      waitFor([&] { return cmd.output().find("Syncing") != std::string::npos || !cmd.running(); },
              std::chrono::seconds(30)))
      << cmd.output();
  AppProcess late({varneloBinary()}, env.env(), env.file("logs/late.log"));
  ASSERT_TRUE(late.wait(10000, &code));
  EXPECT_EQ(code, 1);
  EXPECT_NE(late.output().find("varnelocmd (pid " + std::to_string(cmd.pid()) + ")"),
            std::string::npos)
      << late.output();
  cmd.kill(SIGTERM);
  cmd.wait(10000);

  // With the service gone the login is tried again every 3 s, and "-quit"
  // still ends the program at once.
  ASSERT_TRUE(service.stop());
  auto offline = env.start({}, "offline.log");
  auto attempts = [&] {
    size_t n = 0;
    const std::string out = offline->output();
    for (size_t at = out.find("trying again"); at != std::string::npos;
         at = out.find("trying again", at + 1)) {
      ++n;
    }
    return n;
  };
  ASSERT_TRUE(waitFor([&] { return attempts() >= 2; }, std::chrono::seconds(20)))
      << offline->output();
  EXPECT_EQ(env.second({"-quit"}, "offline-quit.log"), 255);
  ASSERT_TRUE(offline->wait(5000, &code)) << offline->output();
  EXPECT_EQ(code, 0);
  unsetenv("VARNELO_REMOTE_POLL_MS");
}

}  // namespace
}  // namespace varnelo::test
