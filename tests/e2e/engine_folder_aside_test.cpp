// Two computers on one account where one deletes or renames a folder that
// has not changed on the service since the last sync, while the other
// uploads into it. The folder is moved aside on the service before it is
// deleted, so what the other computer sends just before that move is found
// in what was moved and given back, and what it sends after lands in a
// folder of the old name; either way nothing it wrote is lost. A delete
// that fails, or a computer stopped or killed, after the move is finished
// when the computer runs again (nothing is left as a conflicted copy), and
// what another computer changed in the folder meanwhile stays.
#include <algorithm>

#include "engine_child_process.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

constexpr int kHoldMs = 5000;  // long enough for the other computer's upload

constexpr const char* kConflictMarker = " (Conflicted copy ";

class EngineFolderAsideTest : public EngineTest {
 protected:
  static Tree synced() {
    return {{"box", "D"},
            {"box/c1.txt", fileEntry("first")},
            {"box/c2.txt", fileEntry("second")},
            {"box/sub", "D"},
            {"box/sub/deep.txt", fileEntry("deep down")},
            {"shelf", "D"},
            {"shelf/keep.txt", fileEntry("on the shelf")}};
  }
  static void writeSynced(EngineComputer& pc) {
    pc.write("box/c1.txt", "first");
    pc.write("box/c2.txt", "second");
    pc.write("box/sub/deep.txt", "deep down");
    pc.write("shelf/keep.txt", "on the shelf");
  }

  // Two running computers that both hold synced().
  void startBoth() {
    a_ = computer();
    b_ = computer();
    writeSynced(*a_);
    ASSERT_EQ(a_->start(), 200);
    ASSERT_EQ(b_->start(), 200);
    ASSERT_TRUE(holdEverywhere(synced()));
    ASSERT_TRUE(a_->settle());
    ASSERT_TRUE(b_->settle());
  }

  // Waits until the service and both computers hold `want`.
  ::testing::AssertionResult holdEverywhere(const Tree& want, int timeoutMs = 60000) {
    return EngineTest::holdEverywhere({a_.get(), b_.get()}, want, timeoutMs);
  }

  uint64_t counter(const std::string& endpoint, const char* what) {
    Json::Value counters;
    if (!service().counters(&counters)) return 0;
    return counters["endpoints"][endpoint][what].asUInt64();
  }
  uint64_t arrived(const std::string& endpoint) { return counter(endpoint, "requests"); }

  // Waits until B's engine reported the outcome of sending `rel`.
  bool bReported(const std::string& rel) {
    return waitFor([&] { return !b_->latestResult(rel).empty(); });
  }

  // The paths of `tree` below a conflicted copy of `folder`, relative to it.
  static Tree inConflictedCopy(const Tree& tree, const std::string& folder) {
    Tree out;
    for (const auto& [path, what] : tree) {
      if (path.rfind(folder + kConflictMarker, 0) != 0) continue;
      const size_t slash = path.find('/');
      if (slash != std::string::npos) out[path.substr(slash + 1)] = what;
    }
    return out;
  }

  // Deletes A's folder as a file manager sending it to the trash does: moved
  // out of the sync folder in one step, so the engine sees one deletion.
  void throwAway(const std::string& rel) {
    ASSERT_FALSE(files::rename(a_->path(rel), a_->root() + "/../thrown away " + rel));
  }

  void giveBackFails(const std::string& fault);

  std::unique_ptr<EngineComputer> a_, b_;
};

// A deletes one unchanged folder and renames another: the deleted one is
// gone everywhere, the renamed one stands only under its new name, and no
// copy of either is left behind on the service. Each went whole, by one move
// aside and one delete, not entry by entry.
TEST_F(EngineFolderAsideTest, AnUnchangedFolderDeletedOrRenamedIsGoneFromTheService) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().resetCounters());
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_FALSE(files::rename(a_->path("shelf"), a_->path("cupboard")));

  EXPECT_TRUE(
      holdEverywhere({{"cupboard", "D"}, {"cupboard/keep.txt", fileEntry("on the shelf")}}));
  EXPECT_EQ(arrived("/move"), 2u) << "a folder was not taken aside whole before its delete";
  EXPECT_EQ(arrived("/delete"), 2u);
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(waitFor([&] { return a_->state().converged != 0; }));
  EXPECT_EQ(remoteTree(),
            (Tree{{"cupboard", "D"}, {"cupboard/keep.txt", fileEntry("on the shelf")}}));
}

// B's new file and B's edit reach the service after A found the folder as
// synced but before A's request that takes it away: A finds them in what it
// moved, gives the folder its name back and deletes only what is still as
// synced (the untouched subfolder included).
TEST_F(EngineFolderAsideTest, AnUploadLandingInAnUnchangedFolderRightBeforeItsDeleteSurvives) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().resetCounters());
  // Whichever request A takes the folder away with waits at the service.
  const std::string hold = "delay=1,delayMs=" + std::to_string(kHoldMs);
  ASSERT_TRUE(service().setFaults("/move:" + hold + ";/delete:" + hold));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_TRUE(waitFor([&] { return arrived("/move") + arrived("/delete") > 0; }));
  b_->sink().clear();
  b_->write("box/new.txt", "added by b");
  b_->write("box/c2.txt", "second, edited by b");
  ASSERT_TRUE(bReported("box/new.txt"));
  ASSERT_TRUE(bReported("box/c2.txt"));
  ASSERT_EQ(counter("/move", "bytesIn") + counter("/delete", "bytesIn"), 0u)
      << "A's request was answered before B's uploads ended";
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(holdEverywhere({{"box", "D"},
                              {"box/c2.txt", fileEntry("second, edited by b")},
                              {"box/new.txt", fileEntry("added by b")},
                              {"shelf", "D"},
                              {"shelf/keep.txt", fileEntry("on the shelf")}}));
}

// The same race while A renames the folder: the renamed folder arrives
// whole, and B's file stays under the old name, alone.
TEST_F(EngineFolderAsideTest, AnUploadLandingInARenamedFolderRightBeforeItsDeleteSurvives) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().resetCounters());
  const std::string hold = "delay=1,delayMs=" + std::to_string(kHoldMs);
  ASSERT_TRUE(service().setFaults("/move:" + hold + ";/delete:" + hold));
  ASSERT_FALSE(files::rename(a_->path("box"), a_->path("crate")));
  ASSERT_TRUE(waitFor([&] { return arrived("/move") + arrived("/delete") > 0; }));
  b_->sink().clear();
  b_->write("box/new.txt", "added by b");
  ASSERT_TRUE(bReported("box/new.txt"));
  ASSERT_EQ(counter("/move", "bytesIn") + counter("/delete", "bytesIn"), 0u)
      << "A's request was answered before B's upload ended";
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(holdEverywhere({{"box", "D"},
                              {"box/new.txt", fileEntry("added by b")},
                              {"crate", "D"},
                              {"crate/c1.txt", fileEntry("first")},
                              {"crate/c2.txt", fileEntry("second")},
                              {"crate/sub", "D"},
                              {"crate/sub/deep.txt", fileEntry("deep down")},
                              {"shelf", "D"},
                              {"shelf/keep.txt", fileEntry("on the shelf")}}));
}

// B's edit reaches the service while A's move that takes the folder aside
// waits there, so A gives the folder its name back, and that move back
// fails with `fault` (refused, or done with its answer lost). A tries again
// until it knows where the folder stands: B's edit stays under the old
// name, the rest as synced is deleted, and A reports being in step again.
void EngineFolderAsideTest::giveBackFails(const std::string& fault) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().resetCounters());
  ASSERT_TRUE(service().setFaults("/move:delay=1,delayMs=" + std::to_string(kHoldMs)));
  a_->sink().clear();
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_TRUE(waitFor([&] { return arrived("/move") > 0; }));
  b_->sink().clear();
  b_->write("box/c1.txt", "first, edited by b");
  ASSERT_TRUE(bReported("box/c1.txt"));
  // Decided when a request arrives: the move waiting now keeps its delay,
  // the move back after it gets the fault.
  ASSERT_TRUE(service().setFaults("/move:" + fault));
  ASSERT_TRUE(waitFor([&] { return !a_->latestResult("box").empty(); }));
  ASSERT_TRUE(service().setFaults(""));

  const Tree want{{"box", "D"},
                  {"box/c1.txt", fileEntry("first, edited by b")},
                  {"shelf", "D"},
                  {"shelf/keep.txt", fileEntry("on the shelf")}};
  EXPECT_TRUE(holdEverywhere(want));
  EXPECT_TRUE(waitFor([&] { return a_->state().converged != 0; }))
      << "A still counts a deletion as unfinished";
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

TEST_F(EngineFolderAsideTest, AFolderWhoseMoveBackIsRefusedIsGivenBackLater) {
  giveBackFails("error=1");
}

TEST_F(EngineFolderAsideTest, AFolderWhoseMoveBackLostItsAnswerIsWeighedWhereItStands) {
  giveBackFails("drop=1");
}

// The delete of the folder taken aside fails for a while: A never brings
// the folder it moved aside down as a new one, does not claim to be in step
// meanwhile, and finishes the delete once the service takes deletes again.
TEST_F(EngineFolderAsideTest, ADeleteThatFailsAfterTheFolderWasTakenAsideIsFinishedLater) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  a_->sink().clear();
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_TRUE(waitFor([&] { return a_->sink().has("result 500 " + a_->path("box")); }));
  EXPECT_EQ(inConflictedCopy(remoteTree(), "box").count("c1.txt"), 1u)
      << "the folder was not moved aside before its delete: "
      << ::testing::PrintToString(remoteTree());
  const uint64_t passes = a_->state().remotePasses;
  ASSERT_TRUE(waitFor([&] { return a_->state().remotePasses > passes + 2; }));
  EXPECT_EQ(a_->tree(), (Tree{{"shelf", "D"}, {"shelf/keep.txt", fileEntry("on the shelf")}}));
  EXPECT_FALSE(a_->state().converged);
  ASSERT_TRUE(service().setFaults(""));

  const Tree want{{"shelf", "D"}, {"shelf/keep.txt", fileEntry("on the shelf")}};
  EXPECT_TRUE(holdEverywhere(want));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

// A is killed after it moved the folder aside and before the delete went
// through (the service refuses deletes meanwhile), while B adds a file
// under the folder's name. Started again, A finishes the delete of what it
// moved: the folder is gone with no conflicted copy of it anywhere, and B's
// file stands under the old name.
TEST_F(EngineFolderAsideTest, AComputerKilledBetweenTakingAFolderAsideAndDeletingItFinishesLater) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  a_->shutdown();
  ASSERT_TRUE(service().resetCounters());
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  {
    ChildEngine child(*a_, user(), tokenKey(), tokenSecret());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitFor([&] {
      return arrived("/delete") > 0 && inConflictedCopy(remoteTree(), "box").count("c1.txt") == 1;
    }));
    child.kill();
  }
  ASSERT_TRUE(service().setFaults(""));
  b_->write("box/new.txt", "added by b");
  ASSERT_TRUE(bReported("box/new.txt"));
  ASSERT_EQ(a_->start(), 200);

  const Tree want{{"box", "D"},
                  {"box/new.txt", fileEntry("added by b")},
                  {"shelf", "D"},
                  {"shelf/keep.txt", fileEntry("on the shelf")}};
  EXPECT_TRUE(holdEverywhere(want));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

// The same kill, but A is started again with a full resynchronisation (the
// way a folder is adopted as it is now): that deletes nothing, so the folder
// taken aside stays on the service as a conflicted copy, whole.
TEST_F(EngineFolderAsideTest, AResynchronisationAfterTheKillDeletesWhatWasTakenAsideNot) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  a_->shutdown();
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  {
    ChildEngine child(*a_, user(), tokenKey(), tokenSecret());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(
        waitFor([&] { return inConflictedCopy(remoteTree(), "box").count("c1.txt") == 1; }));
    child.kill();
  }
  ASSERT_TRUE(service().setFaults(""));
  ASSERT_TRUE(service().resetCounters());
  ASSERT_EQ(a_->start(3, true), 200);
  ASSERT_TRUE(a_->settle());
  EXPECT_EQ(arrived("/delete"), 0u);
  EXPECT_EQ(inConflictedCopy(remoteTree(), "box").count("c1.txt"), 1u)
      << ::testing::PrintToString(remoteTree());
}

// A is killed while its request that takes the folder aside waits at the
// service, which carries the move out after A is gone. A never heard that
// the folder moved, yet started again it finds and deletes it.
TEST_F(EngineFolderAsideTest, AComputerKilledBeforeTheAnswerToItsMoveFinishesTheDeleteLater) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  a_->shutdown();
  ASSERT_TRUE(service().resetCounters());
  ASSERT_TRUE(service().setFaults("/move:delay=1,delayMs=" + std::to_string(kHoldMs)));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  {
    ChildEngine child(*a_, user(), tokenKey(), tokenSecret());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitFor([&] { return arrived("/move") > 0; }));
    child.kill();
  }
  ASSERT_EQ(arrived("/delete"), 0u);
  ASSERT_TRUE(waitFor([&] { return inConflictedCopy(remoteTree(), "box").count("c1.txt") == 1; }))
      << "the service did not carry out the move of a computer that is gone";
  ASSERT_TRUE(service().setFaults(""));
  ASSERT_EQ(a_->start(), 200);

  const Tree want{{"shelf", "D"}, {"shelf/keep.txt", fileEntry("on the shelf")}};
  EXPECT_TRUE(holdEverywhere(want));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

// The deletes after the moves of a folder and of a file fail, and A is
// stopped as usual before the service takes deletes again. Started again, A
// finishes both: neither comes back to anyone as a conflicted copy.
TEST_F(EngineFolderAsideTest, DeletesThatFailedBeforeAStopAreFinishedAfterTheRestart) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_FALSE(files::removeFile(a_->path("shelf/keep.txt")));
  ASSERT_TRUE(waitFor([&] {
    return a_->sink().has("result 500 " + a_->path("box")) &&
           a_->sink().has("result 500 " + a_->path("shelf/keep.txt"));
  }));
  a_->shutdown();
  ASSERT_TRUE(service().setFaults(""));
  ASSERT_EQ(a_->start(), 200);

  const Tree want{{"shelf", "D"}};
  EXPECT_TRUE(holdEverywhere(want));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

// While A is stopped with its delete unfinished, B gets the folder taken
// aside as a conflicted copy and edits a file in it. Started again, A finds
// the folder changed: it gets its name back, and only what B did not touch
// is deleted.
TEST_F(EngineFolderAsideTest, AnEditIntoTheFolderTakenAsideWhileTheComputerWasStoppedIsKept) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_TRUE(waitFor([&] { return a_->sink().has("result 500 " + a_->path("box")); }));
  a_->shutdown();
  std::string aside;
  ASSERT_TRUE(waitFor([&] {
    for (const auto& [path, what] : b_->tree()) {
      if (path.rfind(std::string("box") + kConflictMarker, 0) == 0 &&
          path.find('/') == std::string::npos && what == "D") {
        aside = path;
      }
    }
    return !aside.empty() && b_->exists(aside + "/c1.txt");
  })) << ::testing::PrintToString(b_->tree());
  b_->sink().clear();
  b_->write(aside + "/c1.txt", "first, edited by b");
  ASSERT_TRUE(
      waitFor([&] { return remoteTree()[aside + "/c1.txt"] == fileEntry("first, edited by b"); }));
  ASSERT_TRUE(service().setFaults(""));
  ASSERT_EQ(a_->start(), 200);

  const Tree want{{"box", "D"},
                  {"box/c1.txt", fileEntry("first, edited by b")},
                  {"shelf", "D"},
                  {"shelf/keep.txt", fileEntry("on the shelf")}};
  EXPECT_TRUE(holdEverywhere(want));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

// A's request that takes the folder aside fails, so it never moved, and A
// is stopped. B edits a file in the folder meanwhile. Started again, A does
// not take its unfinished record for a folder moved away: the folder is
// weighed as found, B's edit stays and only the untouched rest is deleted.
TEST_F(EngineFolderAsideTest, AMoveThatNeverHappenedDeletesNothingOnItsOwnAfterARestart) {
  ASSERT_NO_FATAL_FAILURE(startBoth());
  ASSERT_TRUE(service().setFaults("/move:error=1"));
  ASSERT_NO_FATAL_FAILURE(throwAway("box"));
  ASSERT_TRUE(waitFor([&] { return a_->sink().has("result 500 " + a_->path("box")); }));
  a_->shutdown();
  b_->sink().clear();
  b_->write("box/sub/deep.txt", "deep down, edited by b");
  ASSERT_TRUE(bReported("box/sub/deep.txt"));
  ASSERT_TRUE(service().setFaults(""));
  ASSERT_EQ(a_->start(), 200);

  const Tree want{{"box", "D"},
                  {"box/sub", "D"},
                  {"box/sub/deep.txt", fileEntry("deep down, edited by b")},
                  {"shelf", "D"},
                  {"shelf/keep.txt", fileEntry("on the shelf")}};
  EXPECT_TRUE(holdEverywhere(want));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere(want, 1000));
}

}  // namespace
}  // namespace varnelo::e2e
