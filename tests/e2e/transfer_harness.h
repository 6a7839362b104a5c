// Drives the upload and download paths the way the sync thread will, against
// a real varnelo-service: each Pc is one computer's engine state (sync
// folder, journal, chunk index, filter, settings, context and event sink)
// signed in to the same account. Used from the test thread only; chunk tasks
// still run on the I/O channel's threads.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "ChunkCache.h"
#include "Consumer.h"
#include "Context.h"
#include "Download.h"
#include "FileJournal.h"
#include "LocalScan.h"
#include "RecordingSink.h"
#include "ServiceProcess.h"
#include "SyncFilter.h"
#include "TempDir.h"
#include "Upload.h"
#include "platform/files.h"
#include "varnelo/account.h"

namespace varnelo::e2e {

// The transfer tests' own service: fault plans set here never reach the
// client tests sharing the binary.
inline test::ServiceProcess& transferService() {
  static test::ServiceProcess service(test::ServiceProcess::Options{"", 20000, false});
  return service;
}

inline std::string patternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 977) & 0xff);
  return bytes;
}

struct EndpointCounts {
  int64_t requests = 0, bytesIn = 0, bytesOut = 0;
};

class Pc {
 public:
  explicit Pc(const varnelo_credentials* credentials, uint32_t chunkSize = 65536) {
    root_ = dir_ / "Sync";
    platform::files::createDirectories(root_);
    EXPECT_EQ(journal_.open(dir_ / "basefs.db"), 0);
    EXPECT_EQ(cache_.open(dir_ / "chunks.db", dir_ / "cache"), 0);
    filter_.setFolders(root_, {});
    settings_.credentials = credentials;
    settings_.chunkSize = chunkSize;
    settings_.chunkCache = &cache_;
    Context::Setup setup;
    setup.settings = &settings_;
    setup.localRoot = root_;
    setup.filter = &filter_;
    setup.journal = &journal_;
    setup.sink = &sink_;
    context_ = std::make_unique<Context>(std::move(setup));
  }

  Context& context() { return *context_; }
  sync::FileJournal& journal() { return journal_; }
  chunkcache::ChunkCache& cache() { return cache_; }
  SyncSettings& settings() { return settings_; }
  test::RecordingSink& sink() { return sink_; }
  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return platform::files::joinPath(root_, rel); }
  const test::TempDir& dir() const { return dir_; }

  void write(const std::string& rel, const std::string& content) {
    platform::files::createDirectories(platform::files::parentPath(path(rel)));
    ASSERT_FALSE(platform::files::writeFile(path(rel), content));
  }
  std::string read(const std::string& rel) const {
    std::string out;
    platform::files::readFile(path(rel), out);
    return out;
  }
  bool exists(const std::string& rel) const { return platform::files::exists(path(rel)); }

  // One queued path through the upload path.
  int upload(const std::string& rel) { return uploader::prepareUploading(*context_, path(rel)); }

  // Local scan, then every queued path (and what uploading queues in turn).
  void push() {
    uploader::syncLocalFiles(*context_);
    drain();
  }
  void drain() {
    for (int guard = 0; guard < 100000; ++guard) {
      auto next = context_->updating().take();
      if (!next) return;
      uploader::prepareUploading(*context_, *next);
    }
    ADD_FAILURE() << "the updating set never ran dry";
  }

  // One remote pass.
  int pull(bool fullRecheck = false) { return downloader::syncDir(*context_, fullRecheck); }

 private:
  test::TempDir dir_;
  std::string root_;
  sync::FileJournal journal_;
  chunkcache::ChunkCache cache_;
  sync::SyncFilter filter_;
  SyncSettings settings_;
  test::RecordingSink sink_;
  std::unique_ptr<Context> context_;
};

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service().started()) << service().error();
    service().exportEnvironment();
    unsetenv("USE_HTTPS");
    static std::atomic<int> next{0};
    user_ = "transfer" + std::to_string(++next);
    ASSERT_TRUE(service().addUser(user_, "pw"));
    varnelo_token_pair* token = nullptr;
    ASSERT_EQ(
        varnelo_auth_quick_token(user_.c_str(), "pw", &http::client_consumer(), &token, nullptr),
        200);
    varnelo_credentials* credentials = nullptr;
    varnelo_auth_combine(user_.c_str(), &http::client_consumer(), token, &credentials);
    varnelo_destroy_inner_token(token);
    credentials_.reset(credentials);
    ASSERT_TRUE(credentials_);
  }
  void TearDown() override { service().setFaults(""); }

  static test::ServiceProcess& service() { return transferService(); }
  const varnelo_credentials* credentials() const { return credentials_.get(); }
  const std::string& user() const { return user_; }

  // The account's tree as path → (type, size, sha1) text.
  std::map<std::string, std::string> remoteTree() {
    Json::Value tree;
    EXPECT_TRUE(service().dumpTree(user_, &tree));
    std::map<std::string, std::string> out;
    for (const auto& e : tree["entries"]) {
      out[e["path"].asString()] = std::to_string(e["type"].asInt()) + " " +
                                  std::to_string(e["size"].asInt64()) + " " + e["sha1"].asString();
    }
    return out;
  }
  EndpointCounts counts(const std::string& endpoint) {
    Json::Value all;
    EXPECT_TRUE(service().counters(&all));
    const Json::Value& e = all["endpoints"][endpoint];
    return {e["requests"].asInt64(), e["bytesIn"].asInt64(), e["bytesOut"].asInt64()};
  }

 private:
  struct CredentialsDeleter {
    void operator()(varnelo_credentials* c) const { varnelo_destroy_token(c); }
  };
  std::string user_;
  std::unique_ptr<varnelo_credentials, CredentialsDeleter> credentials_;
};

}  // namespace varnelo::e2e
