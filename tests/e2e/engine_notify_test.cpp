// Remote changes reach running computers when the service reports them:
// with change notifications a change on one computer arrives on the other
// well before the next poll, and without them the poll still brings it.
// Each suite has a service of its own, so that no other test's waiting
// requests share its bounds.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

// Far below the poll interval of these tests (60 s), far above what a
// notified change takes.
constexpr int kNotifiedDeadlineMs = 15000;

class NotifyFixture : public ::testing::Test {
 protected:
  static std::unique_ptr<test::ServiceProcess> startService(bool notify) {
    test::ServiceProcess::Options options;
    options.extraArgs = {"--notify", notify ? "on" : "off"};
    return std::make_unique<test::ServiceProcess>(options);
  }
  void prepare(test::ServiceProcess& service, const char* pollMs) {
    ASSERT_TRUE(service.started()) << service.error();
    service.exportEnvironment();
    unsetenv("USE_HTTPS");
    setenv("VARNELO_REMOTE_POLL_MS", pollMs, 1);
    static std::atomic<int> next{0};
    const std::string user = "notify" + std::to_string(++next);
    ASSERT_TRUE(service.addUser(user, "pw"));
    varnelo_token_pair* token = nullptr;
    ASSERT_EQ(
        varnelo_auth_quick_token(user.c_str(), "pw", &http::client_consumer(), &token, nullptr),
        200);
    a_ = std::make_unique<EngineComputer>(user, token->key, token->secret);
    b_ = std::make_unique<EngineComputer>(user, token->key, token->secret);
    varnelo_destroy_inner_token(token);
    ASSERT_EQ(a_->start(), 200);
    ASSERT_EQ(b_->start(), 200);
    ASSERT_TRUE(waitFor([&] { return a_->state().converged && b_->state().converged; }));
  }
  void TearDown() override {
    a_.reset();
    b_.reset();
    unsetenv("VARNELO_REMOTE_POLL_MS");
  }

  std::unique_ptr<EngineComputer> a_, b_;
};

class NotifiedTest : public NotifyFixture {
 protected:
  static void SetUpTestSuite() { service_ = startService(true).release(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  static inline test::ServiceProcess* service_ = nullptr;
};

TEST_F(NotifiedTest, ChangesReachTheOtherRunningComputerBeforeThePoll) {
  prepare(*service_, "60000");
  a_->write("notes.txt", "from a");
  EXPECT_TRUE(waitFor([&] { return b_->read("notes.txt") == "from a"; }, kNotifiedDeadlineMs))
      << "a new file";
  b_->write("Folder/inside.txt", "from b");
  EXPECT_TRUE(
      waitFor([&] { return a_->read("Folder/inside.txt") == "from b"; }, kNotifiedDeadlineMs))
      << "a new folder with a file, the other way";
  ASSERT_TRUE(waitFor([&] { return a_->state().converged; }));
  ASSERT_FALSE(platform::files::removeFile(a_->path("notes.txt")));
  EXPECT_TRUE(waitFor([&] { return !b_->exists("notes.txt"); }, kNotifiedDeadlineMs))
      << "a deletion";
}

class UnnotifiedTest : public NotifyFixture {
 protected:
  static void SetUpTestSuite() { service_ = startService(true).release(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  static inline test::ServiceProcess* service_ = nullptr;
};

TEST_F(UnnotifiedTest, WithoutNotificationsThePollStillBringsChanges) {
  prepare(*service_, "1000");
  a_->write("notes.txt", "from a");
  EXPECT_TRUE(waitFor([&] { return b_->read("notes.txt") == "from a"; }));
  b_->write("notes.txt", "from b");
  EXPECT_TRUE(waitFor([&] { return a_->read("notes.txt") == "from b"; }));
}

}  // namespace
}  // namespace varnelo::e2e
