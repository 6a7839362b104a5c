// The client's side of change notifications: the offer read from /info, a
// held wait that a cancel ends at once, replies the reference service never
// sends (malformed, oversized, a malformed offer), which fail the wait or
// drop the offer and never reach the engine as a cursor, and a service that
// answers "changed" at once, every time, which the engine's watch does not
// ask in a tight loop.
#include <atomic>
#include <optional>
#include <thread>

#include "CannedServer.h"
#include "MetaApi.h"
#include "RemoteWatch.h"
#include "client_fixture.h"

namespace varnelo::e2e {
namespace {

class NotifyClientTest : public ClientTest {
 protected:
  // Points the client at `canned` until the test ends, also when it fails.
  void useCanned(const test::CannedServer& canned) {
    if (!savedService_) {
      const char* current = getenv("VARNELO_SERVICE");
      savedService_ = current ? current : "";
    }
    const std::string port = std::to_string(canned.port());
    setenv("VARNELO_SERVICE", ("127.0.0.1:" + port + ":" + port).c_str(), 1);
  }
  void TearDown() override {
    if (savedService_) setenv("VARNELO_SERVICE", savedService_->c_str(), 1);
    ClientTest::TearDown();
  }
  uint64_t notifyRequests() {
    Json::Value counters;
    return service().counters(&counters) ? counters["endpoints"]["/notify"]["requests"].asUInt64()
                                         : 0;
  }

  std::optional<std::string> savedService_;  // before the first useCanned
};

TEST_F(NotifyClientTest, AHeldWaitIsCancelledAtOnce) {
  Credentials credentials = sign_in(fresh_user("notify"));
  ASSERT_TRUE(credentials);
  varnelo_meta_info_record info{};
  http::NotifyOffer offer;
  ASSERT_EQ(http::meta_info_notify(credentials.get(), &info, offer), 200);
  ASSERT_TRUE(offer.offered);
  EXPECT_GT(offer.waitSeconds, 0);

  http::CancelSignal cancel;
  const uint64_t before = notifyRequests();
  std::thread canceller([&] {
    // Once the service holds the wait (polled; the wait itself is the deadline).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (notifyRequests() == before && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cancel.cancel();
  });
  bool changed = true;
  std::string next = "untouched";
  const auto started = std::chrono::steady_clock::now();
  const int rc =
      http::meta_wait_change(credentials.get(), offer.cursor, 45, &cancel, &changed, &next);
  canceller.join();
  EXPECT_EQ(rc, 42) << "aborted, not the service's answer after its 45 s";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40));
  EXPECT_EQ(next, "untouched");
  EXPECT_EQ(http::meta_wait_change(credentials.get(), offer.cursor, 45, &cancel, &changed, &next),
            42)
      << "a cancelled signal stays cancelled";
}

TEST_F(NotifyClientTest, MalformedRepliesFailTheWaitAndMalformedOffersAreDropped) {
  Credentials credentials = sign_in(fresh_user("notify"));
  ASSERT_TRUE(credentials);
  test::CannedServer canned;
  ASSERT_TRUE(canned.started());
  useCanned(canned);
  bool changed = false;
  std::string next;
  for (const std::string& body :
       {std::string(R"({"cursor":"../x","changed":true})"),
        std::string(R"({"cursor":")") + std::string(65, 'a') + R"(","changed":true})",
        std::string(R"({"cursor":"","changed":true})"),
        std::string(R"({"cursor":"a.1","changed":"yes"})"), std::string(R"([1,2])")}) {
    canned.set("/notify", 200, body);
    EXPECT_EQ(http::meta_wait_change(credentials.get(), "a.0", 1, nullptr, &changed, &next), -1)
        << body;
    EXPECT_TRUE(next.empty()) << body;
  }
  canned.set("/notify", 200,
             R"({"cursor":"a.1","changed":true,"pad":")" + std::string(8192, ' ') + "\"}");
  EXPECT_EQ(http::meta_wait_change(credentials.get(), "a.0", 1, nullptr, &changed, &next), 23)
      << "an oversized reply ends the transfer";
  canned.set("/notify", 200, R"(  {"cursor":"a.2","changed":true})");
  EXPECT_EQ(http::meta_wait_change(credentials.get(), "a.0", 1, nullptr, &changed, &next), 200);
  EXPECT_TRUE(changed);
  EXPECT_EQ(next, "a.2");

  const std::string info =
      R"({"protocol":1,"chunkSize":4194304,"smallFileSize":16384,"used":"0","total":"9",)";
  varnelo_meta_info_record record{};
  http::NotifyOffer offer;
  for (const char* notify :
       {R"("notify":{"cursor":5,"wait":45})", R"("notify":{"cursor":"a.0","wait":0})",
        R"("notify":"yes")", R"("notify":{"cursor":"a b","wait":45})"}) {
    canned.set("/info", 200, info + notify + "}");
    EXPECT_EQ(http::meta_info_notify(credentials.get(), &record, offer), 200) << notify;
    EXPECT_FALSE(offer.offered) << notify;
  }
  canned.set("/info", 200, info + R"("notify":{"cursor":"a.0","wait":45}})");
  EXPECT_EQ(http::meta_info_notify(credentials.get(), &record, offer), 200);
  EXPECT_TRUE(offer.offered);
  EXPECT_EQ(offer.cursor, "a.0");
}

TEST_F(NotifyClientTest, AServiceAnsweringAtOnceIsNotAskedInALoop) {
  Credentials credentials = sign_in(fresh_user("notify"));
  ASSERT_TRUE(credentials);
  test::CannedServer canned;
  ASSERT_TRUE(canned.started());
  useCanned(canned);
  canned.set("/notify", 200, R"({"cursor":"a.1","changed":true})");
  std::atomic<int> changes{0};
  sync::RemoteWatch watch;
  const auto started = std::chrono::steady_clock::now();
  watch.start(credentials.get(), "a.0", 30, [&] { ++changes; });
  const auto deadline = started + std::chrono::seconds(30);
  while (changes < 5 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto took = std::chrono::steady_clock::now() - started;
  watch.stop();
  ASSERT_GE(changes.load(), 5);
  // Five answers take at least four spacings, however fast the service is.
  EXPECT_GE(took, std::chrono::milliseconds(4 * sync::RemoteWatch::kMinSpacingMs));
}

}  // namespace
}  // namespace varnelo::e2e
