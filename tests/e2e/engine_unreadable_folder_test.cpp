// A folder that the user's engine may no longer search (its mode changed, or
// it now belongs to someone else): what is inside cannot be looked at, and
// must never read as deleted, nor as holding nothing. Nothing below it is
// sent, deleted or forgotten until it can be read again; then the edits made
// just before go up, and a deletion made elsewhere meanwhile comes down.
//
// Permissions do not bind root, so under root the test runs as "nobody"
// (effective ids, for the whole process while it runs); the service, in its
// own process, is not affected.
#include <sys/stat.h>
#include <unistd.h>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

class EngineUnreadableFolderTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    setenv("VARNELO_RETRY_INTERVAL_MS", "300", 1);
    if (geteuid() == 0) {
      if (setegid(kNoGroup) != 0 || seteuid(kNobody) != 0) {
        restoreRoot();
        GTEST_SKIP() << "cannot act as an unprivileged user";
      }
      asNobody_ = true;
    }
    pc_ = computer();
    other_ = computer();
  }
  void TearDown() override {
    if (pc_) {
      pc_->shutdown();
      ::chmod(pc_->path("locked").c_str(), 0755);  // so that it can be removed
    }
    if (other_) other_->shutdown();
    restoreRoot();
    pc_.reset();
    other_.reset();
    EngineTest::TearDown();
  }
  void restoreRoot() {
    if (asNobody_ && (seteuid(0) != 0 || setegid(0) != 0)) ADD_FAILURE() << "root not restored";
    asNobody_ = false;
  }

  std::unique_ptr<EngineComputer> pc_, other_;
  bool asNobody_ = false;
};

TEST_F(EngineUnreadableFolderTest, WhatCannotBeLookedAtIsNeitherSentNorDeleted) {
  pc_->write("locked/a.txt", "first a");
  pc_->write("locked/b.txt", "first b");
  pc_->write("open.txt", "open");
  const Tree synced{{"locked", "D"},
                    {"locked/a.txt", fileEntry("first a")},
                    {"locked/b.txt", fileEntry("first b")},
                    {"open.txt", fileEntry("open")}};
  ASSERT_EQ(pc_->start(), 200);
  ASSERT_TRUE(holdEverywhere({pc_.get()}, synced, 60000, true));
  ASSERT_EQ(other_->start(), 200);
  ASSERT_TRUE(holdEverywhere({pc_.get(), other_.get()}, synced, 60000, true));

  // An edit and a new file whose uploads fail (the service refuses them for
  // now), so that both wait in the retry set; then the folder loses its
  // search permission, and the retries find paths they cannot look at.
  ASSERT_TRUE(service().setFaults("/2/put:error=1;/2/put_batch:error=1;/prepare_put:error=1"));
  pc_->write("locked/a.txt", "second a, longer");
  pc_->write("locked/new.txt", "new");
  ASSERT_TRUE(waitFor(
      [&] {
        const std::string code = pc_->latestResult("locked/a.txt");
        return !code.empty() && code != "-108" && !pc_->latestResult("locked/new.txt").empty();
      },
      30000));
  ASSERT_EQ(::chmod(pc_->path("locked").c_str(), 0600), 0);
  ASSERT_TRUE(service().setFaults(""));
  // Meanwhile the other computer deletes a file in that folder.
  ASSERT_FALSE(platform::files::removeFile(other_->path("locked/b.txt")));
  Tree deleted = synced;
  deleted.erase("locked/b.txt");
  ASSERT_TRUE(waitFor([&] { return remoteTree() == deleted; }, 30000));
  ASSERT_TRUE(waitFor([&] { return pc_->latestResult("locked/a.txt") == "-4"; }, 30000))
      << "locked/a.txt: " << pc_->latestResult("locked/a.txt");
  // Two more remote passes and several retries later, the service still
  // holds what was synced (the pending retries keep the engine from
  // reading as converged, so it is not waited for).
  const uint64_t passes = pc_->state().remotePasses;
  ASSERT_TRUE(waitFor([&] { return pc_->state().remotePasses > passes + 2; }, 30000));
  EXPECT_EQ(remoteTree(), deleted) << "paths that could not be looked at were sent or deleted";

  ASSERT_EQ(::chmod(pc_->path("locked").c_str(), 0755), 0);
  // The folder's rows were kept: the deletion is carried out here (the
  // file is as synced), not taken back by sending the file again.
  Tree edited = deleted;
  edited["locked/a.txt"] = fileEntry("second a, longer");
  edited["locked/new.txt"] = fileEntry("new");
  EXPECT_TRUE(holdEverywhere({pc_.get(), other_.get()}, edited, 60000, true));
}

// The engine starts while the folder cannot be read, so the change monitor
// cannot watch it. Once it can be read again, edits in it reach the service
// as they happen, not at the next full scan.
TEST_F(EngineUnreadableFolderTest, AFolderReadableAgainIsWatchedAgain) {
  pc_->write("locked/a.txt", "first a");
  ASSERT_EQ(pc_->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("locked/a.txt") == 1; }, 30000));
  ASSERT_TRUE(pc_->settle());
  pc_->shutdown();
  ASSERT_EQ(::chmod(pc_->path("locked").c_str(), 0), 0);  // neither read nor searched
  ASSERT_EQ(pc_->start(), 200);
  const uint64_t passes = pc_->state().remotePasses;
  ASSERT_TRUE(waitFor([&] { return pc_->state().remotePasses > passes; }, 30000));

  ASSERT_EQ(::chmod(pc_->path("locked").c_str(), 0755), 0);
  ASSERT_TRUE(pc_->settle());  // the change of mode is taken in before the edits
  pc_->write("locked/later.txt", "written once it could be read");
  pc_->write("locked/a.txt", "second a, longer");
  EXPECT_TRUE(waitFor(
      [&] {
        Tree remote = remoteTree();
        return remote["locked/later.txt"] == fileEntry("written once it could be read") &&
               remote["locked/a.txt"] == fileEntry("second a, longer");
      },
      20000))
      << ::testing::PrintToString(remoteTree());
}

}  // namespace
}  // namespace varnelo::e2e
