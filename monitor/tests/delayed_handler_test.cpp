#include "CDelayedDirectoryChangeHandler.h"

#include <gtest/gtest.h>

#include "FilterOptions.h"
#include "TestHandlers.h"

using namespace varnelo::monitor;
using varnelo::test::RecordingHandler;

namespace {

// Keeps posted notifications so that a test dispatches them itself.
class CapturingNotifier : public CDelayedNotifier {
 public:
  explicit CapturingNotifier(std::vector<NotificationPtr>& queue) : queue_(queue) {}
  bool Post(NotificationPtr notification) override {
    queue_.push_back(std::move(notification));
    return true;
  }

 private:
  std::vector<NotificationPtr>& queue_;
};

class DelayedHandler : public ::testing::Test {
 protected:
  // A handler for a watch of "/w" with the given options and patterns.
  CDelayedDirectoryChangeHandler* make(uint32_t options, const char* excludes,
                                       const char* includes = "") {
    auto* handler = new CDelayedDirectoryChangeHandler(
        &real_, std::make_unique<CapturingNotifier>(queue_), includes, excludes, options);
    handler->SetPartialPathOffset("/w");
    handlers_.push_back(handler);
    return handler;
  }
  void dispatchAll() {
    for (auto& n : queue_) CDelayedDirectoryChangeHandler::Dispatch(std::move(n));
    queue_.clear();
  }
  void TearDown() override {
    queue_.clear();
    for (auto* handler : handlers_) {
      if (CDirectoryChangeHandler* real = handler->TakeOutRealHandler()) real->Release();
      handler->Release();
    }
  }

  RecordingHandler real_;
  std::vector<NotificationPtr> queue_;
  std::vector<CDelayedDirectoryChangeHandler*> handlers_;
};

TEST_F(DelayedHandler, RelativePathPatternsAndRenamesPassingOnEitherName) {
  auto* handler = make(WF_RELATIVE_PATH, "*.tmp;Desktop.ini");
  handler->NotifyAdded("/w/sub/x.tmp");
  handler->NotifyAdded("/w/sub/x.txt");
  handler->NotifyModified("/w/Desktop.ini");
  handler->NotifyModified("/w/sub/Desktop.ini");
  handler->NotifyRenamed("/w/a.tmp", "/w/a.txt");
  handler->NotifyRenamed("/w/a.tmp", "/w/b.tmp");
  handler->NotifyRenamed("/w/a.txt", "/w/a.tmp");
  // Notices pass whatever the patterns say.
  handler->NotifyReadError(std::make_error_code(std::errc::value_too_large), "/w");
  dispatchAll();
  EXPECT_EQ(real_.log.entries(),
            (std::vector<std::string>{"added /w/sub/x.txt", "modified /w/sub/Desktop.ini",
                                      "renamed /w/a.tmp -> /w/a.txt",
                                      "renamed /w/a.txt -> /w/a.tmp", "error 75 /w"}));
}

TEST_F(DelayedHandler, NameOnlyOptionTestsTheLastComponent) {
  auto* handler = make(0, "Desktop.ini;s*");  // 0 means name only
  handler->NotifyAdded("/w/sub/Desktop.ini");
  handler->NotifyAdded("/w/sub/x");  // "s*" would match "sub/x" as a relative path
  handler->NotifyAdded("/w/sx");
  dispatchAll();
  EXPECT_EQ(real_.log.entries(), (std::vector<std::string>{"added /w/sub/x"}));
}

TEST_F(DelayedHandler, IncludesAndTheReceiversOwnTestAreHonoured) {
  const std::string refused = "secret";
  real_.refuse = &refused;
  auto* asks = make(WF_RELATIVE_PATH, "", "*.txt");
  asks->NotifyAdded("/w/a.txt");
  asks->NotifyAdded("/w/a.bin");
  asks->NotifyAdded("/w/secret.txt");
  auto* neverAsks = make(WF_RELATIVE_PATH | WF_NO_HANDLER_TEST, "");
  neverAsks->NotifyAdded("/w/secret.bin");
  auto* noTests = make(WF_NO_PATTERNS | WF_NO_HANDLER_TEST, "*");
  noTests->NotifyAdded("/w/secret.tmp");
  dispatchAll();
  EXPECT_EQ(real_.log.entries(), (std::vector<std::string>{"added /w/a.txt", "added /w/secret.bin",
                                                           "added /w/secret.tmp"}));
}

TEST_F(DelayedHandler, NotificationsOutliveTheirWatchAndAreDroppedAfterIt) {
  auto* handler = make(WF_RELATIVE_PATH, "");
  handler->NotifyAdded("/w/late");
  // The watch ends while its notification is still queued: the handler stays
  // valid (the notification holds it) and nothing reaches the receiver.
  CDirectoryChangeHandler* real = handler->TakeOutRealHandler();
  ASSERT_EQ(real, &real_);
  real->Release();
  handlers_.clear();
  handler->Release();
  dispatchAll();
  EXPECT_TRUE(real_.log.entries().empty());
}

TEST_F(DelayedHandler, AReceiverThatThrowsCostsOnlyItsNotification) {
  struct Throwing : RecordingHandler {
    void NotifyModified(const std::string&) override { throw std::runtime_error("Failed!"); }
  } throwing;
  auto* handler = new CDelayedDirectoryChangeHandler(
      &throwing, std::make_unique<CapturingNotifier>(queue_), "", "", WF_RELATIVE_PATH);
  handler->NotifyModified("/w/a");
  handler->NotifyAdded("/w/b");
  dispatchAll();
  EXPECT_EQ(throwing.log.entries(), (std::vector<std::string>{"added /w/b"}));
  handler->TakeOutRealHandler()->Release();
  handler->Release();
}

}  // namespace
