// Two computers on one account where one renames or moves a file while the
// other replaces it or appends to it: nothing either user wrote is lost. The
// service holds both: the edit under the old name, the renamed file under
// its new one. The races are made exact with a delay the service adds to one
// kind of request: the other computer's upload lands while the renaming
// computer's request that takes the old name away is still waiting.
#include <fstream>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

constexpr int kHoldMs = 5000;  // long enough for the other computer's upload

class EngineRenameEditTest : public EngineTest {
 protected:
  // Two running computers that both hold `synced`.
  void startBoth(const std::map<std::string, std::string>& contents) {
    a_ = computer();
    b_ = computer();
    Tree synced;
    for (const auto& [path, content] : contents) {
      a_->write(path, content);
      synced[path] = fileEntry(content);
      for (size_t slash = path.find('/'); slash != std::string::npos;
           slash = path.find('/', slash + 1)) {
        synced[path.substr(0, slash)] = "D";
      }
    }
    ASSERT_EQ(a_->start(), 200);
    ASSERT_EQ(b_->start(), 200);
    ASSERT_TRUE(holdEverywhere(synced));
    ASSERT_TRUE(a_->settle());
    ASSERT_TRUE(b_->settle());
  }

  // Waits until the service and both computers hold `want`.
  ::testing::AssertionResult holdEverywhere(const Tree& want, int timeoutMs = 60000) {
    return EngineTest::holdEverywhere({a_.get(), b_.get()}, want, timeoutMs);
  }

  // Requests that reached `endpoint` since the counters were reset, and the
  // body bytes of those that were answered.
  uint64_t arrived(const std::string& endpoint) { return counter(endpoint, "requests"); }
  uint64_t answeredBytes(const std::string& endpoint) { return counter(endpoint, "bytesIn"); }

  // Holds every request to `endpoint` for kHoldMs from now on.
  void holdRequestsTo(const std::string& endpoint) {
    ASSERT_TRUE(service().resetCounters());
    ASSERT_TRUE(service().setFaults(endpoint + ":delay=1,delayMs=" + std::to_string(kHoldMs)));
  }

  // Waits until B's engine reported the outcome of sending `rel`.
  bool bReported(const std::string& rel) {
    const std::string suffix = " " + b_->path(rel);
    return waitFor([&] {
      for (const std::string& line : b_->sink().lines()) {
        if (line.rfind("result ", 0) == 0 && line.size() > suffix.size() &&
            line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
          return true;
        }
      }
      return false;
    });
  }

  std::unique_ptr<EngineComputer> a_, b_;

 private:
  uint64_t counter(const std::string& endpoint, const char* what) {
    Json::Value counters;
    if (!service().counters(&counters)) return 0;
    return counters["endpoints"][endpoint][what].asUInt64();
  }
};

void appendTo(const std::string& path, const std::string& tail) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << tail;
}

// A renames x.bin within its folder; B's replacement reaches the service
// while A's deletion of the old name waits there.
TEST_F(EngineRenameEditTest, AReplacementLandingWhileTheOldNameIsDeletedComesBack) {
  ASSERT_NO_FATAL_FAILURE(startBoth({{"docs/x.bin", "as synced"}}));
  ASSERT_NO_FATAL_FAILURE(holdRequestsTo("/delete"));
  ASSERT_FALSE(files::rename(a_->path("docs/x.bin"), a_->path("docs/y.bin")));
  ASSERT_TRUE(waitFor([&] { return arrived("/delete") > 0; }));
  b_->sink().clear();
  b_->write("docs/x.bin", "replaced by b");
  ASSERT_TRUE(bReported("docs/x.bin"));
  ASSERT_EQ(answeredBytes("/delete"), 0u) << "A's delete was answered before B's upload ended";
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(holdEverywhere({{"docs", "D"},
                              {"docs/x.bin", fileEntry("replaced by b")},
                              {"docs/y.bin", fileEntry("as synced")}}));
}

// A moves x.bin to another folder; B appends to it in place while A's
// deletion of the old name waits at the service.
TEST_F(EngineRenameEditTest, AnAppendLandingWhileAMovedFileIsDeletedComesBack) {
  ASSERT_NO_FATAL_FAILURE(
      startBoth({{"docs/x.bin", "as synced"}, {"archive/kept.txt", "stays as it is"}}));
  ASSERT_NO_FATAL_FAILURE(holdRequestsTo("/delete"));
  ASSERT_FALSE(files::rename(a_->path("docs/x.bin"), a_->path("archive/x.bin")));
  ASSERT_TRUE(waitFor([&] { return arrived("/delete") > 0; }));
  b_->sink().clear();
  appendTo(b_->path("docs/x.bin"), ", then appended by b");
  ASSERT_TRUE(bReported("docs/x.bin"));
  ASSERT_EQ(answeredBytes("/delete"), 0u) << "A's delete was answered before B's upload ended";
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(holdEverywhere({{"archive", "D"},
                              {"archive/kept.txt", fileEntry("stays as it is")},
                              {"archive/x.bin", fileEntry("as synced")},
                              {"docs", "D"},
                              {"docs/x.bin", fileEntry("as synced, then appended by b")}}));
}

// B's replacement lands after A found the old name as synced but before A
// took it away: A must notice that what it took is no longer what it checked
// and give it back under its own name. A renames while it is off, so the
// deletion is found by its scan (which knows the name only lower-cased).
TEST_F(EngineRenameEditTest, AReplacementLandingJustBeforeTheOldNameIsTakenIsGivenBack) {
  ASSERT_NO_FATAL_FAILURE(startBoth({{"Notes.BIN", "as synced"}}));
  a_->engine()->stopSync(false);
  ASSERT_FALSE(files::rename(a_->path("Notes.BIN"), a_->path("y.bin")));
  ASSERT_NO_FATAL_FAILURE(holdRequestsTo("/move"));
  ASSERT_EQ(a_->start(), 200);
  ASSERT_TRUE(waitFor([&] { return arrived("/move") > 0; }))
      << "A deleted the old name without taking it aside first";
  b_->sink().clear();
  b_->write("Notes.BIN", "replaced by b in time");
  ASSERT_TRUE(bReported("Notes.BIN"));
  ASSERT_TRUE(
      waitFor([&] { return remoteTree()["Notes.BIN"] == fileEntry("replaced by b in time"); }));
  ASSERT_EQ(answeredBytes("/move"), 0u) << "A's move was answered before B's upload ended";
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(holdEverywhere(
      {{"Notes.BIN", fileEntry("replaced by b in time")}, {"y.bin", fileEntry("as synced")}}));
}

// A deletion that fails once the file is taken aside is finished later: the
// file taken aside never comes back to A as a new file, A does not claim to
// be in step meanwhile, and in the end no copy of it is left anywhere.
TEST_F(EngineRenameEditTest, ADeleteThatFailsAfterTheFileWasTakenAsideIsFinishedLater) {
  ASSERT_NO_FATAL_FAILURE(startBoth({{"x.bin", "to be deleted"}, {"other.txt", "stays"}}));
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  a_->sink().clear();
  ASSERT_FALSE(files::removeFile(a_->path("x.bin")));
  ASSERT_TRUE(waitFor([&] { return a_->sink().has("result 500 " + a_->path("x.bin")); }));
  // Two of A's remote passes while the service still refuses deletes.
  const uint64_t passes = a_->state().remotePasses;
  ASSERT_TRUE(waitFor([&] { return a_->state().remotePasses > passes + 2; }));
  EXPECT_EQ(a_->tree(), (Tree{{"other.txt", fileEntry("stays")}}));
  EXPECT_FALSE(a_->state().converged);
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(holdEverywhere({{"other.txt", fileEntry("stays")}}));
  ASSERT_TRUE(a_->settle());
  EXPECT_TRUE(holdEverywhere({{"other.txt", fileEntry("stays")}}, 1000));
}

// The same inside a folder that changed on the service, which is walked
// entry by entry: the entries as synced go (also the one whose delete failed
// at first), the one added elsewhere stays with its folder. A sends only
// (no remote passes), so the retry of the folder finishes what it took aside.
TEST_F(EngineRenameEditTest, ADeletedFolderWhoseDeleteFailedHalfWayKeepsOnlyWhatIsNew) {
  ASSERT_NO_FATAL_FAILURE(startBoth({{"box/c1.txt", "first"}, {"box/c2.txt", "second"}}));
  a_->engine()->stopSync(false);
  b_->write("box/c3.txt", "added by b");
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("box/c3.txt") == 1; }));
  ASSERT_TRUE(b_->settle());
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_FALSE(files::removeTree(a_->path("box")));
  a_->sink().clear();
  ASSERT_EQ(a_->start(1), 200);
  ASSERT_TRUE(waitFor([&] { return a_->sink().has("result 500 " + a_->path("box")); }));
  ASSERT_TRUE(service().setFaults(""));

  const Tree want{{"box", "D"}, {"box/c3.txt", fileEntry("added by b")}};
  Tree remote;
  EXPECT_TRUE(waitFor([&] { return (remote = remoteTree()) == want && b_->tree() == want; }))
      << ::testing::PrintToString(remote);
  EXPECT_TRUE(waitFor([&] { return a_->state().converged != 0; }));
  EXPECT_EQ(remoteTree(), want);
}

// The plain case: A is off while B edits two files, then renames one and
// moves the other before it has seen the edits.
TEST_F(EngineRenameEditTest, EditsMadeWhileTheRenamingComputerWasOffComeBack) {
  ASSERT_NO_FATAL_FAILURE(startBoth({{"docs/x.bin", "x as synced"},
                                     {"docs/z.bin", "z as synced"},
                                     {"archive/kept.txt", "stays as it is"}}));
  a_->engine()->stopSync(false);
  b_->write("docs/x.bin", "x replaced by b");
  appendTo(b_->path("docs/z.bin"), " and appended by b");
  ASSERT_TRUE(waitFor([&] {
    Tree remote = remoteTree();
    return remote["docs/x.bin"] == fileEntry("x replaced by b") &&
           remote["docs/z.bin"] == fileEntry("z as synced and appended by b");
  }));
  ASSERT_FALSE(files::rename(a_->path("docs/x.bin"), a_->path("docs/y.bin")));
  ASSERT_FALSE(files::rename(a_->path("docs/z.bin"), a_->path("archive/z.bin")));
  ASSERT_EQ(a_->start(), 200);

  EXPECT_TRUE(holdEverywhere({{"archive", "D"},
                              {"archive/kept.txt", fileEntry("stays as it is")},
                              {"archive/z.bin", fileEntry("z as synced")},
                              {"docs", "D"},
                              {"docs/x.bin", fileEntry("x replaced by b")},
                              {"docs/y.bin", fileEntry("x as synced")},
                              {"docs/z.bin", fileEntry("z as synced and appended by b")}}));
}

}  // namespace
}  // namespace varnelo::e2e
