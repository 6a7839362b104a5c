// The settings record each environment produces, and the one-shot renewal
// of the process-wide share.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ConnectionSettings.h"
#include "EnvGuard.h"
#include "RawHttpServer.h"
#include "ShareHandle.h"
#include "Transport.h"
#include "platform/files.h"

#include <thread>

using namespace varnelo::http;

namespace {

class FakeResolver final : public ProxyResolver {
 public:
  std::optional<std::vector<std::string>> answer;
  std::string askedFor;
  std::optional<std::vector<std::string>> proxies_for(const std::string& url) override {
    askedFor = url;
    return answer;
  }
};

class ConnectionSettingsTest : public ::testing::Test {
 protected:
  ConnectionSettingsTest() {
    for (const char* name : {"CURL_PROXY_SETTINGTYPE", "CURL_PROXY", "CURL_PROXYTYPE",
                             "CURL_PROXYUSERPWD", "CURL_USERAGENT", "CURL_UPLOAD_SPEEDLIMIT",
                             "CURL_DOWNLOAD_SPEEDLIMIT", "VARNELO_CA_BUNDLE"})
      env.unset(name);
  }
  ConnectionSettings compute(const std::string& url, bool limits = true) {
    return compute_connection_settings(url, limits, resolver);
  }
  varnelo::test::EnvGuard env;
  FakeResolver resolver;
};

}  // namespace

TEST_F(ConnectionSettingsTest, PlainEnvironmentIsDirectAndUnlimited) {
  ConnectionSettings s = compute("http://h/x");
  EXPECT_FALSE(s.secure);
  EXPECT_EQ(s.protocols, "http,https");
  EXPECT_FALSE(s.proxy);
  EXPECT_FALSE(s.tunnel);
  EXPECT_FALSE(s.userAgent);
  EXPECT_EQ(s.maxSend, 0);
  EXPECT_EQ(s.maxRecv, 0);
  EXPECT_FALSE(s.caBundle);

  ConnectionSettings secure = compute("https://h/x");
  EXPECT_TRUE(secure.secure);
  EXPECT_EQ(secure.protocols, "https");
  // Only the exact lower-case prefix counts as secure.
  EXPECT_FALSE(compute("HTTPS://h/x").secure);
}

TEST_F(ConnectionSettingsTest, ManualProxyTypesCredentialsAndTunnel) {
  env.set("CURL_PROXY", "proxy.lan:3128");
  env.set("CURL_PROXYUSERPWD", "me:secret");
  ConnectionSettings plain = compute("http://h/x");
  EXPECT_EQ(plain.proxy, "proxy.lan:3128");
  EXPECT_FALSE(plain.proxyType);  // libcurl's default: an HTTP proxy
  EXPECT_EQ(plain.proxyUserPwd, "me:secret");
  EXPECT_FALSE(plain.tunnel);
  EXPECT_TRUE(compute("https://h/x").tunnel);

  const std::pair<const char*, long> types[] = {{"socks4", CURLPROXY_SOCKS4},
                                                {"SOCKS5", CURLPROXY_SOCKS5},
                                                {"Http1.0", CURLPROXY_HTTP_1_0},
                                                {"gopher", CURLPROXY_HTTP}};
  for (auto [text, type] : types) {
    env.set("CURL_PROXYTYPE", text);
    EXPECT_EQ(compute("http://h/x").proxyType, type) << text;
  }
  // "direct" or an empty setting type still means manual mode; an empty
  // CURL_PROXY means no proxy at all.
  env.set("CURL_PROXY_SETTINGTYPE", "direct");
  EXPECT_TRUE(compute("http://h/x").proxy);
  env.set("CURL_PROXY", "");
  ConnectionSettings none = compute("https://h/x");
  EXPECT_FALSE(none.proxy);
  EXPECT_FALSE(none.proxyUserPwd);
  EXPECT_FALSE(none.tunnel);
  EXPECT_TRUE(resolver.askedFor.empty());
}

TEST_F(ConnectionSettingsTest, AutoProxyUsesOnlyTheFirstAnswer) {
  env.set("CURL_PROXY_SETTINGTYPE", "AUTO");
  env.set("CURL_PROXY", "ignored:1");  // manual values do not count in auto mode
  resolver.answer = std::vector<std::string>{"DIRECT://", "http://p:8080"};
  ConnectionSettings direct = compute("https://h/x?q=1");
  EXPECT_EQ(resolver.askedFor, "https://h/x?q=1");
  EXPECT_FALSE(direct.proxy);
  EXPECT_FALSE(direct.tunnel);

  resolver.answer = std::vector<std::string>{"http://p:8080", "direct://"};
  ConnectionSettings proxied = compute("https://h/x");
  EXPECT_EQ(proxied.proxy, "http://p:8080");
  EXPECT_EQ(proxied.proxyType, CURLPROXY_HTTP);
  EXPECT_FALSE(proxied.proxyUserPwd);
  EXPECT_TRUE(proxied.tunnel);

  resolver.answer.reset();  // libproxy unavailable: direct connection
  EXPECT_FALSE(compute("https://h/x").proxy);
  resolver.answer = std::vector<std::string>{};
  EXPECT_FALSE(compute("https://h/x").proxy);
}

TEST_F(ConnectionSettingsTest, SpeedLimitsOnlyForGetAndPut) {
  env.set("CURL_UPLOAD_SPEEDLIMIT", "10");
  env.set("CURL_DOWNLOAD_SPEEDLIMIT", "3");
  ConnectionSettings limited = compute("http://h/x", true);
  EXPECT_EQ(limited.maxSend, 10240);
  EXPECT_EQ(limited.maxRecv, 3072);
  ConnectionSettings post = compute("http://h/x", false);
  EXPECT_EQ(post.maxSend, 0);
  EXPECT_EQ(post.maxRecv, 0);

  env.set("CURL_UPLOAD_SPEEDLIMIT", "-5");
  env.set("CURL_DOWNLOAD_SPEEDLIMIT", "fast");
  ConnectionSettings junk = compute("http://h/x", true);
  EXPECT_EQ(junk.maxSend, 0);
  EXPECT_EQ(junk.maxRecv, 0);
  env.set("CURL_DOWNLOAD_SPEEDLIMIT", "2097152");  // 2 GiB/s does not overflow
  EXPECT_EQ(compute("http://h/x", true).maxRecv, 2097152LL * 1024);
}

TEST_F(ConnectionSettingsTest, UserAgentAndCaBundle) {
  env.set("CURL_USERAGENT", "Varnelo/1.0 (test)");
  env.set("VARNELO_CA_BUNDLE", "/tmp/ca.pem");
  ConnectionSettings s = compute("https://h/x");
  EXPECT_EQ(s.userAgent, "Varnelo/1.0 (test)");
  EXPECT_EQ(s.caBundle, "/tmp/ca.pem");
  env.set("CURL_USERAGENT", "");
  EXPECT_FALSE(compute("https://h/x").userAgent);
}

// Only a folder of certificates under their hashed names stands in for
// the bundle file; anything else keeps the bundle.
TEST(TrustStoreTest, AFolderCountsOnlyWithHashedCertificateNames) {
  char tmpl[] = "/tmp/varnelo-certs-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string folder = tmpl;
  auto add = [&](const char* name) {
    ASSERT_FALSE(platform::files::writeFile(folder + "/" + name, "x"));
  };
  EXPECT_FALSE(holds_hashed_certificates(folder)) << "empty";
  for (const char* name : {"ca-certificates.crt", "Some_Root_CA.pem", "002c0b4f", "002c0b4f.",
                           "002c0b4g.0", "002c0b4f.x", "02c0b4f.0"})
    add(name);
  EXPECT_FALSE(holds_hashed_certificates(folder));
  add("002c0b4f.1");
  EXPECT_TRUE(holds_hashed_certificates(folder));
  EXPECT_FALSE(holds_hashed_certificates(folder + "/missing"));
  platform::files::removeTree(folder);
}

TEST(ShareHandleTest, ReshareSignalIsConsumedByExactlyOneRequest) {
  varnelo::test::EnvGuard env;
  env.unset("CURL_RESHARE_HANDLE");
  std::shared_ptr<Share> first = current_share();
  ASSERT_TRUE(first && first->get());
  EXPECT_EQ(current_share(), first);

  env.set("CURL_RESHARE_HANDLE", "True");
  std::shared_ptr<Share> renewed = current_share();
  EXPECT_NE(renewed, first);
  EXPECT_STREQ(std::getenv("CURL_RESHARE_HANDLE"), "");
  EXPECT_EQ(current_share(), renewed);
  // The replaced share is still alive while someone holds it.
  EXPECT_NE(first->get(), nullptr);

  env.set("CURL_RESHARE_HANDLE", "no");
  EXPECT_EQ(current_share(), renewed);
  EXPECT_STREQ(std::getenv("CURL_RESHARE_HANDLE"), "no");
}

TEST(ShareHandleTest, ReplacedShareLivesUntilItsLastTransferMovesOn) {
  varnelo::test::EnvGuard env;
  env.unset("CURL_RESHARE_HANDLE");
  env.unset("CURL_PROXY_SETTINGTYPE");
  env.unset("CURL_PROXY");
  release_thread_handle();
  varnelo::test::RawHttpServer server;
  std::weak_ptr<Share> old = current_share();

  server.hold();
  server.reply("200 OK", "first");
  server.reply("200 OK", "second");
  int firstCode = -1, secondCode = -1;
  bool oldAliveAfterFirst = false, oldGoneAfterSecond = false;
  StringSink firstBody, secondBody;
  std::thread worker([&] {
    StringSink headers;
    firstCode = http_get(server.url("/a"), nullptr, 10000, 0, 0, firstBody, headers);
    oldAliveAfterFirst = !old.expired();  // the worker's kept handle still holds it
    secondCode = http_get(server.url("/b"), nullptr, 10000, 0, 0, secondBody, headers);
    oldGoneAfterSecond = old.expired();
  });
  ASSERT_TRUE(server.waitForRequests(1));
  // The worker's transfer is under way on the old share: replace it now.
  env.set("CURL_RESHARE_HANDLE", "true");
  std::shared_ptr<Share> renewed = current_share();
  EXPECT_FALSE(old.expired());
  server.release();
  worker.join();
  EXPECT_EQ(firstCode, 0);
  EXPECT_EQ(firstBody.bytes, "first");
  EXPECT_EQ(secondCode, 0);
  EXPECT_EQ(secondBody.bytes, "second");
  // The second transfer moved the worker's handle to the new share, which
  // let the old one go.
  EXPECT_TRUE(oldAliveAfterFirst);
  EXPECT_TRUE(oldGoneAfterSecond);
  EXPECT_EQ(current_share(), renewed);
}
