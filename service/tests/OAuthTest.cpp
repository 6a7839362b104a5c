// Sign-in and signature checks of the service, from the outside: what a
// client sees for each refusal, and the browser sign-in from request token to
// access token.
#include <gtest/gtest.h>

#include <ctime>
#include <regex>

#include "TestClient.h"

namespace varnelo::test {
namespace {

class OAuthTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    service_ = new ServiceProcess();
    ASSERT_TRUE(service_->started()) << service_->error();
    ASSERT_TRUE(service_->addUser("alice", "pass word&1"));
    ASSERT_TRUE(service_->addUser("sleepy", "pw", "native", "inactive"));
    ASSERT_TRUE(service_->addUser("passport", "pw", "kuv", "unbound"));
    ASSERT_TRUE(service_->addUser("bob", "pw", "kuv"));
  }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  static ServiceProcess* service_;
};
ServiceProcess* OAuthTest::service_ = nullptr;

TEST_F(OAuthTest, QuickTokenAnswersEachSignInOutcome) {
  TestClient client(*service_);
  // Blank and ampersand travel escaped in the query and still match.
  EXPECT_EQ(client.quickToken("alice", "pass word&1").status, 200);
  EXPECT_EQ(client.token().size(), 40u);
  EXPECT_EQ(client.quickToken("ALICE", "pass word&1").status, 200) << "names ignore letter case";
  EXPECT_EQ(client.quickToken("alice", "wrong").status, 401);

  Reply inactive = client.quickToken("sleepy", "pw");
  EXPECT_EQ(inactive.status, 409);
  EXPECT_EQ(inactive.json["code"].asInt(), 1);
  Reply unbound = client.quickToken("passport", "pw", "kuv");
  EXPECT_EQ(unbound.status, 409);
  EXPECT_EQ(unbound.json["code"].asInt(), 4);
  Reply unknown = client.quickToken("nobody", "pw");
  EXPECT_EQ(unknown.status, 409);
  EXPECT_EQ(unknown.json["code"].asInt(), 4);
  EXPECT_EQ(client.quickToken("bob", "pw", "kuv").status, 200);
  EXPECT_EQ(client.quickToken("bob", "pw", "native").json["code"].asInt(), 4)
      << "a passport account is unknown to the native provider";
  EXPECT_EQ(client.quickToken("bob", "pw", "smart").status, 200);
}

TEST_F(OAuthTest, EverySignatureFaultIsRefused) {
  TestClient client(*service_);
  ASSERT_TRUE(client.signIn("alice", "pass word&1"));
  std::string url = service_->httpsBase() + "/api/1/ping";

  Signing good = client.accessSigning();
  EXPECT_EQ(
      client.send("POST", url, "null", good, {"Content-Type: application/octet-stream"}).status,
      200);

  Signing bad = client.accessSigning();
  bad.corruptSignature = true;
  EXPECT_EQ(
      client.send("POST", url, "null", bad, {"Content-Type: application/octet-stream"}).status,
      401);

  Signing unknownToken = client.accessSigning();
  unknownToken.token = std::string(40, 'f');
  EXPECT_EQ(
      client.send("POST", url, "null", unknownToken, {"Content-Type: application/octet-stream"})
          .status,
      401);

  Signing wrongConsumer = client.accessSigning();
  wrongConsumer.consumerKey = "someoneelse";
  EXPECT_EQ(
      client.send("POST", url, "null", wrongConsumer, {"Content-Type: application/octet-stream"})
          .status,
      401);

  Signing stale = client.accessSigning();
  stale.timestamp = time(nullptr) - 601;
  EXPECT_EQ(
      client.send("POST", url, "null", stale, {"Content-Type: application/octet-stream"}).status,
      401);
  Signing future = client.accessSigning();
  future.timestamp = time(nullptr) + 900;
  EXPECT_EQ(
      client.send("POST", url, "null", future, {"Content-Type: application/octet-stream"}).status,
      401);

  Signing once = client.accessSigning();
  once.nonce = "nonce-used-once";
  EXPECT_EQ(
      client.send("POST", url, "null", once, {"Content-Type: application/octet-stream"}).status,
      200);
  EXPECT_EQ(
      client.send("POST", url, "null", once, {"Content-Type: application/octet-stream"}).status,
      401)
      << "replayed nonce";
}

TEST(OAuthRestartTest, NoncesSurviveARestart) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("r", "pw"));
  std::string token, secret;
  {
    TestClient client(service);
    ASSERT_TRUE(client.signIn("r", "pw"));
    token = client.token();
    secret = client.tokenSecret();
  }
  Signing once;
  once.token = token;
  once.tokenSecret = secret;
  once.nonce = "before-the-restart";
  once.timestamp = time(nullptr);
  const std::vector<std::string> json = {"Content-Type: application/octet-stream"};
  {
    TestClient client(service);
    EXPECT_EQ(client.send("POST", service.httpBase() + "/device/list", "null", once, json).status,
              200);
  }
  ASSERT_TRUE(service.restart()) << service.error();
  TestClient client(service);
  EXPECT_EQ(client.send("POST", service.httpBase() + "/device/list", "null", once, json).status,
            401)
      << "replayed after a restart";
  once.nonce = "after-the-restart";
  EXPECT_EQ(client.send("POST", service.httpBase() + "/device/list", "null", once, json).status,
            200)
      << "tokens and data survive the restart";
}

TEST_F(OAuthTest, AccountEndpointsAnswerOnlyOverHttps) {
  TestClient client(*service_);
  ASSERT_TRUE(client.signIn("alice", "pass word&1"));
  EXPECT_EQ(
      client.send("POST", service_->httpBase() + "/api/1/ping", "null", client.accessSigning())
          .status,
      403);
  Reply info =
      client.send("GET", service_->httpsBase() + "/api/1/user_info", "", client.accessSigning());
  ASSERT_EQ(info.status, 200);
  const Json::Value& user = info.json["user"];
  EXPECT_EQ(user["username"].asString(), "alice");
  EXPECT_TRUE(user["native"].asBool());
  EXPECT_TRUE(user["email"].isString());
  EXPECT_TRUE(user["id"].isIntegral());
  ASSERT_EQ(user["accounts"].size(), 1u);
  EXPECT_EQ(user["accounts"][0]["type"].asString(), "native");
}

TEST_F(OAuthTest, BrowserSignInTurnsRequestTokenIntoAccessToken) {
  TestClient client(*service_);
  Signing consumerOnly;
  consumerOnly.inQuery = true;
  Reply request = client.send(
      "POST", service_->httpsBase() + "/oauth/request_token?oauth_callback=oob", "", consumerOnly);
  ASSERT_EQ(request.status, 200);
  std::string token = formValue(request.body, "oauth_token");
  std::string secret = formValue(request.body, "oauth_token_secret");

  // A request token is no access token.
  Signing withRequest;
  withRequest.token = token;
  withRequest.tokenSecret = secret;
  EXPECT_EQ(client.send("POST", service_->httpsBase() + "/api/1/ping", "null", withRequest).status,
            401);

  // The page opens over plain HTTP; a wrong password keeps the form.
  Reply page = client.plain(
      "GET", service_->httpBase() + "/oauth/authorize?oauth_token=" + token + "&provider=kuv", "");
  ASSERT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<form"), std::string::npos);
  std::string form = "oauth_token=" + token + "&provider=native&username=alice&password=";
  Reply refused = client.plain("POST", service_->httpBase() + "/oauth/authorize", form + "nope",
                               {"Content-Type: application/x-www-form-urlencoded"});
  EXPECT_EQ(refused.body.find("id=\"verifier\""), std::string::npos);
  Reply allowed =
      client.plain("POST", service_->httpBase() + "/oauth/authorize", form + rfc3986("pass word&1"),
                   {"Content-Type: application/x-www-form-urlencoded"});
  std::smatch m;
  ASSERT_TRUE(std::regex_search(allowed.body, m, std::regex("id=\"verifier\">([0-9a-f]+)<")))
      << allowed.body;
  std::string verifier = m[1];

  Signing exchange = withRequest;
  exchange.inQuery = true;
  std::string accessUrl = service_->httpsBase() + "/oauth/access_token?oauth_verifier=";
  EXPECT_EQ(client.send("POST", accessUrl + "00000000", "", exchange).status, 401);
  Reply access = client.send("POST", accessUrl + verifier, "", exchange);
  ASSERT_EQ(access.status, 200);
  EXPECT_EQ(client.send("POST", accessUrl + verifier, "", exchange).status, 401) << "single use";

  Signing api;
  api.token = formValue(access.body, "oauth_token");
  api.tokenSecret = formValue(access.body, "oauth_token_secret");
  EXPECT_EQ(
      client.send("POST", service_->httpsBase() + "/api/1/ping", "null", api).json["code"].asInt(),
      0);
}

TEST_F(OAuthTest, DevicesArePerAccount) {
  TestClient alice(*service_), bob(*service_);
  ASSERT_TRUE(alice.signIn("alice", "pass word&1"));
  ASSERT_EQ(bob.quickToken("bob", "pw", "kuv").status, 200);
  Json::Value dev;
  dev["devId"] = "{0001}";
  dev["devName"] = "laptop";
  EXPECT_EQ(alice.call("/device/set", dev).status, 200);
  dev["devName"] = "renamed";
  EXPECT_EQ(alice.call("/device/set", dev).status, 200);
  Reply list = alice.call("/device/list", Json::Value());
  ASSERT_EQ(list.json["devices"].size(), 1u);
  EXPECT_EQ(list.json["devices"][0]["devName"].asString(), "renamed");
  EXPECT_EQ(bob.call("/device/list", Json::Value()).json["devices"].size(), 0u);
  Json::Value unlink;
  unlink["devId"] = "{0001}";
  EXPECT_EQ(bob.call("/device/unlink", unlink).status, 404);
  EXPECT_EQ(alice.call("/device/unlink", unlink).status, 200);
  EXPECT_EQ(alice.call("/device/list", Json::Value()).json["devices"].size(), 0u);
}

}  // namespace
}  // namespace varnelo::test
