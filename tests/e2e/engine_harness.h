// The fixture of the engine scenarios: a real varnelo-service of their own,
// a fresh user per test, and EngineComputer, one PC running a real engine
// (varnelo_new2) over its own data folder and sync folder. Trees of both
// sides are compared as path → "D" (folder) or "F <size> <sha1>" (file).
// Used from the test thread; engines run their own threads underneath.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>
#include <openssl/sha.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Consumer.h"
#include "RecordingSink.h"
#include "ServiceProcess.h"
#include "TempDir.h"
#include "platform/files.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/SyncState.h"
#include "varnelo/account.h"

namespace varnelo::e2e {

using Tree = std::map<std::string, std::string>;

inline std::string sha1Hex(const std::string& bytes) {
  unsigned char d[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) out += {hex[c >> 4], hex[c & 15]};
  return out;
}

inline std::string fileEntry(const std::string& content) {
  return "F " + std::to_string(content.size()) + " " + sha1Hex(content);
}

// Polls `condition` until it holds or `timeoutMs` passes.
template <class Condition>
bool waitFor(Condition condition, int timeoutMs = 30000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline test::ServiceProcess& engineService() {
  static test::ServiceProcess service(test::ServiceProcess::Options{"", 20000, false});
  return service;
}

// Everything below `root`, hidden names (the download folder) left out.
inline void walkLocal(const std::string& root, const std::string& rel, Tree& out) {
  std::vector<platform::files::DirEntry> entries;
  platform::files::listDirectory(rel.empty() ? root : root + "/" + rel, entries);
  for (const auto& e : entries) {
    if (e.name.empty() || e.name[0] == '.') continue;
    const std::string child = rel.empty() ? e.name : rel + "/" + e.name;
    const std::string full = root + "/" + child;
    if (platform::files::isDirectory(full)) {
      out[child] = "D";
      walkLocal(root, child, out);
    } else {
      std::string bytes;
      platform::files::readFile(full, bytes);
      out[child] = fileEntry(bytes);
    }
  }
}

class EngineComputer {
 public:
  // `rootName`: the sync folder below the computer's own temporary folder
  // (a deeper one leaves less room for the paths below it).
  EngineComputer(std::string user, std::string tokenKey, std::string tokenSecret,
                 const std::string& rootName = "Sync")
      : user_(std::move(user)), key_(std::move(tokenKey)), secret_(std::move(tokenSecret)) {
    root_ = dir_ / rootName;
    platform::files::createDirectories(root_);
    platform::files::createDirectories(dir_ / "data");
  }
  ~EngineComputer() { shutdown(); }

  // Makes the engine (once), signs in, mounts and starts. 200 or the first failure.
  int start(int mode = 3, bool resyncAll = false) {
    if (int rc = open(); rc != 200) return rc;
    engine_->setSyncMode(mode);
    return engine_->startSync(resyncAll);
  }
  // Makes the engine, signs in and mounts, without starting (once). 200 or
  // the first failure.
  int open() {
    if (!engine_) {
      if (int rc = varnelo_new2(dataFolder().c_str(), &engine_); rc != 200) return rc;
      engine_->setEventSink(&sink_);
      const varnelo_token_pair access{key_.c_str(), secret_.c_str()};
      if (int rc = engine_->login(user_.c_str(), &http::client_consumer(), &access); rc != 200)
        return rc;
      const std::string index = dataFolder() + "chunks.db";
      const std::string cache = dataFolder() + "cache";
      if (int rc = engine_->getChunkCache()->open(index.c_str(), cache.c_str()); rc != 200)
        return rc;
      if (int rc = engine_->mountVolume("home", root_.c_str()); rc != 200) return rc;
    }
    return 200;
  }
  // Excludes the server folders `dirs` ("home/..."), also before the first start.
  int exclude(std::vector<const char*> dirs) {
    if (int rc = open(); rc != 200) return rc;
    return engine_->setExcludeDirs(dirs.data(), static_cast<uint32_t>(dirs.size()));
  }
  void shutdown() {
    if (engine_) engine_->release();
    engine_ = nullptr;
  }

  IVarnelo2* engine() { return engine_; }
  test::RecordingSink& sink() { return sink_; }
  std::string dataFolder() const { return dir_ / "data/"; }
  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

  void write(const std::string& rel, const std::string& content) {
    platform::files::createDirectories(platform::files::parentPath(path(rel)));
    // Written beside and moved in, so that no event sees a half-written file.
    const std::string temp = dir_ / "incoming";
    ASSERT_FALSE(platform::files::writeFile(temp, content));
    ASSERT_FALSE(platform::files::rename(temp, path(rel)));
  }
  std::string read(const std::string& rel) const {
    std::string out;
    platform::files::readFile(path(rel), out);
    return out;
  }
  bool exists(const std::string& rel) const { return platform::files::exists(path(rel)); }
  // The code of the latest result reported for `rel` ("-113"), empty when none was.
  std::string latestResult(const std::string& rel) const {
    const std::string suffix = " " + path(rel);
    std::string code;
    for (const std::string& line : sink_.lines()) {
      if (line.rfind("result ", 0) != 0 || line.size() <= suffix.size() + 7 ||
          line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0)
        continue;
      code = line.substr(7, line.size() - suffix.size() - 7);
    }
    return code;
  }
  Tree tree() const {
    Tree out;
    walkLocal(root_, "", out);
    return out;
  }
  varnelo_sync_state state() {
    varnelo_sync_state s{};
    if (engine_) varnelo_get_sync_state2(engine_, &s);
    return s;
  }
  // Waits for a remote pass that began after this call and a quiet engine.
  bool settle(int timeoutMs = 30000) {
    const uint64_t passes = state().remotePasses;
    return waitFor(
        [&] {
          const varnelo_sync_state s = state();
          return s.remotePasses > passes + 1 && s.converged;
        },
        timeoutMs);
  }

 private:
  test::TempDir dir_;
  std::string root_;
  std::string user_, key_, secret_;
  IVarnelo2* engine_ = nullptr;
  test::RecordingSink sink_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service().started()) << service().error();
    service().exportEnvironment();
    unsetenv("USE_HTTPS");
    // Remote passes and retries at test speed (the defaults are 60 s and 120 s).
    setenv("VARNELO_REMOTE_POLL_MS", "250", 1);
    setenv("VARNELO_RETRY_INTERVAL_MS", "1000", 1);
    static std::atomic<int> next{0};
    user_ = "engine" + std::to_string(++next);
    ASSERT_TRUE(service().addUser(user_, "pw"));
    varnelo_token_pair* token = nullptr;
    ASSERT_EQ(
        varnelo_auth_quick_token(user_.c_str(), "pw", &http::client_consumer(), &token, nullptr),
        200);
    key_ = token->key;
    secret_ = token->secret;
    varnelo_destroy_inner_token(token);
  }
  void TearDown() override {
    service().setFaults("");
    unsetenv("VARNELO_REMOTE_POLL_MS");
    unsetenv("VARNELO_RETRY_INTERVAL_MS");
    unsetenv("VARNELO_PUT_BATCH");
  }

  static test::ServiceProcess& service() { return engineService(); }
  std::unique_ptr<EngineComputer> computer(const std::string& rootName = "Sync") {
    return std::make_unique<EngineComputer>(user_, key_, secret_, rootName);
  }
  const std::string& user() const { return user_; }
  const std::string& tokenKey() const { return key_; }
  const std::string& tokenSecret() const { return secret_; }

  // Waits until the service and every one of `pcs` hold `want`, and with
  // `idle` until every one of them has nothing left to do either. On a
  // timeout, the message lists every tree as it was last seen.
  ::testing::AssertionResult holdEverywhere(std::initializer_list<EngineComputer*> pcs,
                                            const Tree& want, int timeoutMs = 60000,
                                            bool idle = false) {
    Tree remote;
    const bool ok = waitFor(
        [&] {
          remote = remoteTree();
          if (remote != want) return false;
          for (EngineComputer* pc : pcs) {
            if (pc->tree() != want || (idle && !pc->state().converged)) return false;
          }
          return true;
        },
        timeoutMs);
    if (ok) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "remote:";
    for (const auto& [path, what] : remote) failure << "\n  " << path << " " << what;
    for (EngineComputer* pc : pcs) {
      failure << "\nlocal " << pc->root() << (pc->state().converged ? "" : " (busy)") << ":";
      for (const auto& [path, what] : pc->tree()) failure << "\n  " << path << " " << what;
    }
    return failure;
  }

  // The account's tree below "home", in the same form as a local tree.
  Tree remoteTree() {
    Json::Value dump;
    Tree out;
    if (!service().dumpTree(user_, &dump)) return out;
    for (const auto& e : dump["entries"]) {
      std::string path = e["path"].asString();
      if (path.rfind("home/", 0) != 0) continue;
      path = path.substr(5);
      out[path] = e["type"].asInt() == 2
                      ? "D"
                      : "F " + std::to_string(e["size"].asInt64()) + " " + e["sha1"].asString();
    }
    return out;
  }

 private:
  std::string user_, key_, secret_;
};

}  // namespace varnelo::e2e
