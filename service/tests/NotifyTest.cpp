// Change notifications: the feed's bounds and wake-ups in process, and the
// /notify endpoint over HTTP: /info's first cursor, a held request answered
// by a change of the tree, a wait that ends with "no change", every kind of
// tree change moving the cursor, the bound on waiting requests, and a
// service started without notifications.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "ChangeFeed.h"
#include "TestClient.h"

namespace varnelo {
namespace {

using service::ChangeFeed;
using namespace std::chrono_literals;

TEST(ChangeFeedTest, SeatsAreBoundedPerAccountAndOverallAndGivenBack) {
  ChangeFeed feed(3, 2);
  auto a1 = feed.join(1), a2 = feed.join(1);
  ASSERT_TRUE(a1 && a2);
  EXPECT_FALSE(feed.join(1)) << "third waiter of one account";
  auto b1 = feed.join(2);
  ASSERT_TRUE(b1);
  EXPECT_FALSE(feed.join(3)) << "fourth waiter overall";
  a1.reset();
  EXPECT_TRUE(feed.join(3)) << "a seat given back is free again";
  EXPECT_TRUE(feed.join(1));
  feed.close();
  b1.reset();
  EXPECT_FALSE(feed.join(2)) << "a closed feed seats no one";
}

TEST(ChangeFeedTest, WaitEndsOnChangeOnTimeoutAndOnClose) {
  ChangeFeed feed;
  auto seat = feed.join(7);
  ASSERT_TRUE(seat);
  const std::string first = feed.cursor(7);
  std::string now;
  EXPECT_EQ(feed.wait(*seat, first, 20ms, &now), ChangeFeed::Wait::kTimedOut);
  EXPECT_EQ(now, first);
  EXPECT_EQ(feed.wait(*seat, "", 10s, &now), ChangeFeed::Wait::kChanged) << "no cursor: at once";
  EXPECT_EQ(feed.wait(*seat, "0000000000000000.0", 10s, &now), ChangeFeed::Wait::kChanged)
      << "a cursor of another run: at once";

  feed.changed(8);
  EXPECT_EQ(feed.cursor(7), first) << "another account's change";
  std::thread writer([&] { feed.changed(7); });
  EXPECT_EQ(feed.wait(*seat, first, 30s, &now), ChangeFeed::Wait::kChanged);
  writer.join();
  EXPECT_NE(now, first);

  std::thread closer([&] { feed.close(); });
  EXPECT_EQ(feed.wait(*seat, now, 30s, &now), ChangeFeed::Wait::kClosed);
  closer.join();
}

}  // namespace

namespace test {
namespace {

class NotifyTest : public AccountTest {
 protected:
  std::string firstCursor() {
    Reply info = client_->call("/info", Json::Value());
    EXPECT_EQ(info.status, 200);
    EXPECT_EQ(info.json["notify"]["wait"].asInt(), ChangeFeed::kMaxWaitSeconds);
    return info.json["notify"]["cursor"].asString();
  }
  static Reply wait(TestClient& client, const std::string& cursor, int seconds) {
    Json::Value body;
    body["cursor"] = cursor;
    body["wait"] = seconds;
    return client.call("/notify", body);
  }
  int mkdir(const std::string& path) {
    Json::Value body;
    body["path"] = path;
    body["editTime"] = "1";
    return client_->call("/mkdir", body).status;
  }
};

TEST_F(NotifyTest, AHeldRequestIsAnsweredByAChangeAndAQuietOneByItsEnd) {
  const std::string cursor = firstCursor();
  ASSERT_FALSE(cursor.empty());
  Reply quiet = wait(*client_, cursor, 1);
  ASSERT_EQ(quiet.status, 200) << quiet.body;
  EXPECT_FALSE(quiet.json["changed"].asBool());
  EXPECT_EQ(quiet.json["cursor"].asString(), cursor);

  // Held on a client of its own; the change comes from this one.
  auto held = std::async(std::launch::async, [&] {
    TestClient other(*service_);
    EXPECT_TRUE(other.signIn(user_, "pw"));
    return wait(other, cursor, ChangeFeed::kMaxWaitSeconds);
  });
  ASSERT_EQ(mkdir("home/new"), 200);
  Reply woken = held.get();
  ASSERT_EQ(woken.status, 200) << woken.body;
  EXPECT_TRUE(woken.json["changed"].asBool());
  EXPECT_NE(woken.json["cursor"].asString(), cursor);
}

TEST_F(NotifyTest, EveryKindOfTreeChangeMovesTheCursor) {
  std::string cursor = firstCursor();
  auto moved = [&](const char* what, int status) {
    EXPECT_EQ(status, 200) << what;
    Reply r = wait(*client_, cursor, 0);
    EXPECT_TRUE(r.json["changed"].asBool()) << what;
    cursor = r.json["cursor"].asString();
  };
  Json::Value body;
  moved("mkdir", mkdir("home/a"));
  moved("commit", client_->upload("home/a/f", std::string(70000, 'x'), 64 * 1024).status);
  moved("small put", client_->upload("home/a/s", "small", 64 * 1024).status);
  body["from"] = "home/a/f";
  body["to"] = "home/a/g";
  moved("move", client_->call("/move", body).status);
  body["paths"].append("home/a/g");
  moved("delete", client_->call("/delete", body).status);
  body.clear();
  body["path"] = "home/a/g";
  moved("undelete", client_->call("/undelete", body).status);

  Reply get = this->get("home/a", true);
  ASSERT_EQ(get.status, 200);
  EXPECT_FALSE(wait(*client_, cursor, 0).json["changed"].asBool()) << "a read changes nothing";
}

TEST_F(NotifyTest, WaitersBeyondTheBoundAreToldToRetryLater) {
  const std::string cursor = firstCursor();
  std::vector<std::future<Reply>> held;
  for (int i = 0; i < ChangeFeed::kMaxWaitersPerAccount; ++i) {
    held.push_back(std::async(std::launch::async, [&] {
      TestClient other(*service_);
      EXPECT_TRUE(other.signIn(user_, "pw"));
      // Refused while a probe below holds a seat for a moment: asked again.
      Reply r;
      do {
        r = wait(other, cursor, ChangeFeed::kMaxWaitSeconds);
      } while (r.status == 503);
      return r;
    }));
  }
  // Once all of them are seated, one more is refused (until then a short
  // wait is seated and answered "no change").
  Reply refused;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  do {
    refused = wait(*client_, cursor, 0);
  } while (refused.status == 200 && std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(refused.status, 503) << refused.body;
  ASSERT_EQ(mkdir("home/wake"), 200);
  for (auto& f : held) {
    Reply r = f.get();
    EXPECT_TRUE(r.json["changed"].asBool()) << r.status << " " << r.body;
  }
  EXPECT_EQ(wait(*client_, cursor, 0).status, 200) << "seats were given back";
}

TEST_F(NotifyTest, AClientThatGaveUpFreesItsSeatWithinSeconds) {
  const std::string cursor = firstCursor();
  std::vector<std::unique_ptr<TestClient>> quitters;
  for (int i = 0; i < ChangeFeed::kMaxWaitersPerAccount; ++i) {
    quitters.push_back(std::make_unique<TestClient>(*service_));
    ASSERT_TRUE(quitters.back()->signIn(user_, "pw"));
    quitters.back()->setTimeoutMs(500);
    EXPECT_EQ(wait(*quitters.back(), cursor, ChangeFeed::kMaxWaitSeconds).status, 0)
        << "cut off by the client";
  }
  // Each seat is held until a blank the service writes fails: seconds, not
  // the 45 s of the wait.
  Reply seated;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  do {
    seated = wait(*client_, cursor, 0);
  } while (seated.status == 503 && std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(seated.status, 200) << seated.body;
}

TEST(NotifyOffTest, AServiceWithoutNotificationsOffersNone) {
  ServiceProcess::Options options;
  options.extraArgs = {"--notify", "off"};
  ServiceProcess service(options);
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("quiet", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("quiet", "pw"));
  Reply info = client.call("/info", Json::Value());
  ASSERT_EQ(info.status, 200);
  EXPECT_FALSE(info.json.isMember("notify"));
  Json::Value body;
  body["cursor"] = "";
  EXPECT_EQ(client.call("/notify", body).status, 404);
}

}  // namespace
}  // namespace test
}  // namespace varnelo
