// The fixture of the transfer scenarios: a real varnelo-service of their own,
// a fresh signed-in user per test, and views of the account's tree and the
// service's counters. Computers are Pc objects (transfer_pc.h). Used from
// the test thread only.
#pragma once

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "Consumer.h"
#include "ServiceProcess.h"
#include "transfer_pc.h"
#include "varnelo/account.h"

namespace varnelo::e2e {

// The transfer tests' own service: fault plans set here never reach the
// client tests sharing the binary.
inline test::ServiceProcess& transferService() {
  static test::ServiceProcess service(test::ServiceProcess::Options{"", 20000, false});
  return service;
}

struct EndpointCounts {
  int64_t requests = 0, bytesIn = 0, bytesOut = 0;
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
