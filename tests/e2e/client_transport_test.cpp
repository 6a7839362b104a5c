// The transport against the reference service: connections are reused per
// thread, TLS peers are verified, many threads share the DNS cache and TLS
// sessions safely, and a renewed share changes nothing callers can see.
#include <curl/curl.h>

#include <thread>
#include <vector>

#include "Transport.h"
#include "client_connect_proxy.h"
#include "client_fixture.h"

using namespace varnelo::e2e;
using namespace varnelo::http;

namespace {

class TransportTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    if (HasFatalFailure()) return;
    setenv("USE_HTTPS", "true", 1);
    credentials = sign_in(fresh_user("transport"));
    ASSERT_TRUE(credentials);
  }
  void TearDown() override {
    set_connection_reuse(true);
    unsetenv("USE_HTTPS");
  }
  int32_t info() {
    varnelo_meta_info_record record{};
    return varnelo_meta_info(credentials.get(), &record);
  }
  Credentials credentials;
};

}  // namespace

TEST_F(TransportTest, SecondRequestFromTheSameThreadReusesTheConnection) {
  release_thread_handle();  // forget connections of earlier tests
  ASSERT_EQ(info(), 200);
  EXPECT_EQ(last_transfer_info().newConnections, 1);
  ASSERT_EQ(info(), 200);
  ASSERT_EQ(info(), 200);
  EXPECT_EQ(last_transfer_info().newConnections, 0);
  // Plain HTTP to the other port needs its own connection, then reuses it.
  unsetenv("USE_HTTPS");
  ASSERT_EQ(info(), 200);
  EXPECT_EQ(last_transfer_info().newConnections, 1);
  ASSERT_EQ(info(), 200);
  EXPECT_EQ(last_transfer_info().newConnections, 0);

  set_connection_reuse(false);
  ASSERT_EQ(info(), 200);
  EXPECT_EQ(last_transfer_info().newConnections, 1);
  ASSERT_EQ(info(), 200);
  EXPECT_EQ(last_transfer_info().newConnections, 1);
}

TEST_F(TransportTest, PeersAreVerified) {
  ASSERT_EQ(info(), 200);
  // Neither a kept connection nor a cached TLS session may stand in for a
  // fresh handshake: drop the thread's handle and renew the shared sessions.
  release_thread_handle();
  setenv("CURL_RESHARE_HANDLE", "true", 1);
  std::string bundle = getenv("VARNELO_CA_BUNDLE");
  unsetenv("VARNELO_CA_BUNDLE");
  EXPECT_EQ(info(), CURLE_PEER_FAILED_VERIFICATION);
  setenv("VARNELO_CA_BUNDLE", "/nonexistent/ca.pem", 1);
  EXPECT_EQ(info(), CURLE_SSL_CACERT_BADFILE);
  setenv("VARNELO_CA_BUNDLE", bundle.c_str(), 1);
  release_thread_handle();
  EXPECT_EQ(info(), 200);
}

TEST_F(TransportTest, ConcurrentThreadsAndShareRenewal) {
  constexpr int kThreads = 4, kCalls = 25;
  std::vector<int> failures(kThreads, 0);
  // The variable exists before the threads start, so setting it from one of
  // them replaces a value in place instead of growing the environment.
  setenv("CURL_RESHARE_HANDLE", "", 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        if (t == 0 && i == kCalls / 2) setenv("CURL_RESHARE_HANDLE", "true", 1);
        if (info() != 200) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_STREQ(getenv("CURL_RESHARE_HANDLE"), "");
}

TEST_F(TransportTest, HttpsThroughAProxyTunnelReportsTheServiceStatus) {
  ConnectProxy proxy;
  setenv("CURL_PROXY", ("127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  release_thread_handle();
  // The first request opens the tunnel. The proxy's own "200 Connection
  // established" must not be taken for the service's answer: a move of a
  // missing path is still 404.
  EXPECT_EQ(varnelo_meta_move(credentials.get(), "home/none", "home/other"), 404);
  EXPECT_EQ(proxy.tunnels(), 1);
  EXPECT_EQ(info(), 200);
  unsetenv("CURL_PROXY");
  release_thread_handle();  // the tunnelled connection ends with the proxy
}
