// A libcurl client for the service tests with its own OAuth 1.0 signing,
// written apart from the service's verifier so that a shared mistake cannot
// make both sides agree. One object per thread: it keeps one libcurl handle,
// and with it one connection, across requests.
#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ServiceProcess.h"

namespace varnelo::test {

struct Reply {
  int status = 0;  // 0: transport failure (see curlCode)
  int curlCode = 0;
  std::string body;
  Json::Value json;  // parsed body, null when it is not JSON
};

// Everything that goes into one signature; tests corrupt single fields.
struct Signing {
  std::string consumerKey = VARNELO_TEST_CONSUMER_KEY;
  std::string consumerSecret = VARNELO_TEST_CONSUMER_SECRET;
  std::string token;
  std::string tokenSecret;
  int64_t timestamp = 0;  // 0: now
  std::string nonce;      // empty: random
  bool corruptSignature = false;
  bool inQuery = false;  // oauth_* in the query (token requests) instead of the header
};

std::string rfc3986(const std::string& text);
std::string urlSafeBase64(const std::string& bytes);
std::string sha1Bytes(const std::string& data);

class TestClient {
 public:
  explicit TestClient(ServiceProcess& service) : service_(&service), curl_(curl_easy_init()) {}
  // A client for plain requests to other servers (no signing helpers).
  TestClient() : curl_(curl_easy_init()) {}

  // Signs method + url (+ oauth parameters) and sends the body.
  Reply send(const std::string& method, const std::string& url, const std::string& body,
             const Signing& signing, const std::vector<std::string>& headers = {});
  Reply plain(const std::string& method, const std::string& url, const std::string& body,
              const std::vector<std::string>& headers = {});

  // Password sign-in over HTTPS; on 200 keeps the access token for call().
  Reply quickToken(const std::string& user, const std::string& password,
                   const std::string& provider = "native");
  bool signIn(const std::string& user, const std::string& password);

  // Signed POST of a JSON body to the file or device base (HTTP).
  Reply call(const std::string& path, const Json::Value& body);
  Signing accessSigning() const;

  // prepare_put, a plain PUT of every required chunk, commit_put; returns the
  // commit reply (or the first failing one). chunkPuts counts the PUTs sent.
  Reply upload(const std::string& path, const std::string& content, int64_t chunkSize,
               const std::string& base = "", int* chunkPuts = nullptr);
  // The 20-byte keys of content cut into chunks.
  static std::vector<std::string> chunkKeys(const std::string& content, int64_t chunkSize);

  // Each request's limit (30 s unless set); a request cut off by it closes
  // its connection, as a client that gave up does.
  void setTimeoutMs(long ms) { timeoutMs_ = ms; }

  const std::string& token() const { return token_; }
  const std::string& tokenSecret() const { return tokenSecret_; }

 private:
  std::string caPath() const;
  struct Cleanup {
    void operator()(CURL* curl) const noexcept { curl_easy_cleanup(curl); }
  };
  ServiceProcess* service_ = nullptr;
  std::unique_ptr<CURL, Cleanup> curl_;
  std::string token_;
  std::string tokenSecret_;
  long timeoutMs_ = 30000;
};

// Parses "a=1&b=2" into its values.
std::string formValue(const std::string& form, const std::string& name);

// One service for the whole suite and a fresh signed-in account per test,
// named after the test.
class AccountTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    service_ = new ServiceProcess();
    ASSERT_TRUE(service_->started()) << service_->error();
  }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  void SetUp() override {
    user_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(service_->addUser(user_, "pw"));
    client_ = std::make_unique<TestClient>(*service_);
    ASSERT_TRUE(client_->signIn(user_, "pw"));
  }
  // The entry at `path`, or its listing.
  Reply get(const std::string& path, bool list = false) {
    Json::Value body;
    body["path"] = path;
    body["base"] = "";
    body["list"] = list ? 1 : 0;
    body["showType"] = 0;
    return client_->call("/get", body);
  }

  static inline ServiceProcess* service_ = nullptr;
  std::string user_;
  std::unique_ptr<TestClient> client_;
};

}  // namespace varnelo::test
