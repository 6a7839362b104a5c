// An engine killed after its commit left for the service, but before the
// answer came, and a save made while it was down: started again, the
// computer knows the version the service took as its own, and the last save
// takes the name everywhere (no conflicted copy beside a version nobody
// chose, no empty file where a truncating save was caught half-way).
#include <string>

#include "engine_child_process.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

class EngineCommitKillTest : public EngineTest {
 protected:
  int64_t requests(const std::string& endpoint) {
    Json::Value all;
    if (!service().counters(&all)) return 0;
    return all["endpoints"][endpoint]["requests"].asInt64();
  }

  // A syncs `first` as doc.txt with B; then A, in a process of its own,
  // sends its next version `caught` and is killed while the service holds
  // the commit back; the service then takes it. Returns with A stopped and
  // the service holding `caught`.
  void killDuringTheCommitOf(EngineComputer& a, EngineComputer& b, const std::string& first,
                             const std::string& caught, const std::string& commit = "/commit_put") {
    a.write("doc.txt", first);
    ASSERT_EQ(a.start(), 200);
    ASSERT_EQ(b.start(), 200);
    ASSERT_TRUE(holdEverywhere({&a, &b}, {{"doc.txt", fileEntry(first)}}, 60000, true));
    a.shutdown();

    ASSERT_TRUE(service().resetCounters());
    ASSERT_TRUE(service().setFaults("seed=3;" + commit + ":delay=1,delayMs=1500"));
    ChildEngine child(a, user(), tokenKey(), tokenSecret());
    ASSERT_TRUE(child.started());
    // Once the child has looked at the folder, the save its watch sees.
    ASSERT_TRUE(waitFor([&] { return requests("/get") > 0; }));
    a.write("doc.txt", caught);
    ASSERT_TRUE(waitFor([&] { return requests(commit) > 0; }));
    child.kill();
    ASSERT_TRUE(waitFor([&] { return remoteTree()["doc.txt"] == fileEntry(caught); }))
        << "the service took the commit of the killed engine";
    ASSERT_TRUE(service().setFaults(""));
  }

  // Then a save in place while A is down, and A started again.
  void theLastSaveWins(const std::string& caught, const std::string& commit = "/commit_put") {
    auto a = computer();
    auto b = computer();
    killDuringTheCommitOf(*a, *b, "the first version", caught, commit);
    if (HasFatalFailure()) return;
    const std::string last = "the last save, made while the engine was down";
    ASSERT_FALSE(files::writeFile(a->path("doc.txt"), last));
    ASSERT_EQ(a->start(), 200);
    EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, {{"doc.txt", fileEntry(last)}}, 60000, true));
  }
};

// Caught half-way through a truncating save: an empty file, which goes up
// through prepare and commit.
TEST_F(EngineCommitKillTest, ASaveWhileDownWinsOverAnEmptyVersionItsCommitLeft) {
  theLastSaveWins("");
}

TEST_F(EngineCommitKillTest, ASaveWhileDownWinsOverAChunkedVersionItsCommitLeft) {
  theLastSaveWins(std::string(50000, 'c'));
}

// A small file's one request commits it too.
TEST_F(EngineCommitKillTest, ASaveWhileDownWinsOverASmallVersionItsRequestLeft) {
  setenv("VARNELO_PUT_BATCH", "0", 1);  // each small file on its own
  theLastSaveWins("a small version", "/2/put");
}

// And so does the batch that carries it.
TEST_F(EngineCommitKillTest, ASaveWhileDownWinsOverASmallVersionItsBatchLeft) {
  theLastSaveWins("a small version", "/2/put_batch");
}

// Without a save in between, the restarted engine takes the version as the
// one it has: nothing is sent or copied again.
TEST_F(EngineCommitKillTest, WithoutALaterSaveTheCommittedVersionStandsAsSynced) {
  auto a = computer();
  auto b = computer();
  const std::string caught(30000, 'k');
  killDuringTheCommitOf(*a, *b, "before", caught);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(service().resetCounters());
  ASSERT_EQ(a->start(), 200);
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, {{"doc.txt", fileEntry(caught)}}, 60000, true));
  EXPECT_EQ(requests("/commit_put"), 0);
}

}  // namespace
}  // namespace varnelo::e2e
