// A folder deleted on one computer takes from the service only what that
// computer had as synced: entries below it that it never held (a folder it
// excludes, a path too long for its deeper sync folder) stay on the service,
// with the folders above them, and reach every other computer. Run with two
// computers and with three (the third one only syncs).
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

class EngineUnseenDeleteTest : public EngineTest, public ::testing::WithParamInterface<int> {
 protected:
  bool remoteIs(const Tree& want, int timeoutMs = 30000) {
    return waitFor([&] { return remoteTree() == want; }, timeoutMs);
  }
  // The third computer of the three-computer runs, started; null otherwise.
  std::unique_ptr<EngineComputer> bystander(const Tree& want) {
    if (GetParam() < 3) return nullptr;
    auto c = computer();
    EXPECT_EQ(c->start(), 200);
    EXPECT_TRUE(waitFor([&] { return c->tree() == want; }, 60000));
    return c;
  }
  // The first computer and, in the three-computer runs, the third hold `want`.
  // Deleted the way a file manager does it: moved to the trash, out of the
  // sync folder, which the folder watch sees as one folder gone.
  static void trash(EngineComputer& pc, const std::string& rel) {
    ASSERT_FALSE(files::rename(pc.path(rel), pc.root() + ".trash"));
  }
  ::testing::AssertionResult allHold(EngineComputer* a, EngineComputer* c, const Tree& want) {
    return c ? holdEverywhere({a, c}, want) : holdEverywhere({a}, want);
  }
};

TEST_P(EngineUnseenDeleteTest, AFolderDeletedWhereASubfolderIsExcludedKeepsWhatIsInIt) {
  auto a = computer();
  a->write("D/a.txt", "a");
  a->write("D/sub/b.txt", "b");
  a->write("D/sub/deep/c.txt", "c");
  ASSERT_EQ(a->start(), 200);
  const Tree all{{"D", "D"},          {"D/a.txt", fileEntry("a")},
                 {"D/sub", "D"},      {"D/sub/b.txt", fileEntry("b")},
                 {"D/sub/deep", "D"}, {"D/sub/deep/c.txt", fileEntry("c")}};
  ASSERT_TRUE(remoteIs(all));

  auto b = computer();
  ASSERT_EQ(b->exclude({"home/D/sub/deep"}), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] {
    return b->tree() == Tree{{"D", "D"},
                             {"D/a.txt", fileEntry("a")},
                             {"D/sub", "D"},
                             {"D/sub/b.txt", fileEntry("b")}};
  }));
  auto c = bystander(all);

  // Another computer adds a file where this one does not look, and this
  // one's remote pass has seen the change.
  a->write("D/sub/deep/new.txt", "new");
  Tree withNew = all;
  withNew["D/sub/deep/new.txt"] = fileEntry("new");
  ASSERT_TRUE(remoteIs(withNew));
  ASSERT_TRUE(b->settle());

  trash(*b, "D");
  const Tree want{{"D", "D"},
                  {"D/sub", "D"},
                  {"D/sub/deep", "D"},
                  {"D/sub/deep/c.txt", fileEntry("c")},
                  {"D/sub/deep/new.txt", fileEntry("new")}};
  EXPECT_TRUE(allHold(a.get(), c.get(), want));
  // The folders that stayed come back here, without what is excluded.
  EXPECT_TRUE(waitFor([&] { return b->tree() == Tree{{"D", "D"}, {"D/sub", "D"}}; }));
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(remoteTree(), want);
}

// Below a subfolder, so that the folder deleted holds it only through the
// subfolder's version.
TEST_P(EngineUnseenDeleteTest, AFolderDeletedWhereAPathIsTooLongKeepsThatFile) {
  auto a = computer();
  // Fits below this sync folder, not below the other computer's deeper one.
  const std::string name = std::string(240 - a->path("D/sub/").size() - 4, 'n') + ".txt";
  const std::string longPath = "D/sub/" + name;
  auto b = computer("Sync/on/a/much/deeper/path");
  ASSERT_LT(a->path(longPath).size(), 248u);
  ASSERT_GE(b->path(longPath).size(), 248u);
  a->write("D/top.txt", "top");
  a->write("D/sub/keep.txt", "synced on both");
  a->write(longPath, "too long for the other one");
  ASSERT_EQ(a->start(), 200);
  const Tree all{{"D", "D"},
                 {"D/top.txt", fileEntry("top")},
                 {"D/sub", "D"},
                 {"D/sub/keep.txt", fileEntry("synced on both")},
                 {longPath, fileEntry("too long for the other one")}};
  ASSERT_TRUE(remoteIs(all));

  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] {
    return b->tree() == Tree{{"D", "D"},
                             {"D/top.txt", fileEntry("top")},
                             {"D/sub", "D"},
                             {"D/sub/keep.txt", fileEntry("synced on both")}} &&
           b->latestResult(longPath) == "-113";
  }));
  ASSERT_TRUE(b->settle());
  auto c = bystander(all);

  trash(*b, "D");
  const Tree want{{"D", "D"}, {"D/sub", "D"}, {longPath, fileEntry("too long for the other one")}};
  EXPECT_TRUE(allHold(a.get(), c.get(), want));
  EXPECT_TRUE(waitFor([&] { return b->tree() == Tree{{"D", "D"}, {"D/sub", "D"}}; }));
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(remoteTree(), want);
}

INSTANTIATE_TEST_SUITE_P(Computers, EngineUnseenDeleteTest, ::testing::Values(2, 3),
                         [](const auto& info) { return std::to_string(info.param) + "Computers"; });

class EngineExcludedDeleteTest : public EngineTest {
 protected:
  bool remoteIs(const Tree& want, int timeoutMs = 30000) {
    return waitFor([&] { return remoteTree() == want; }, timeoutMs);
  }
};

// Excluded after it was synced: the journal forgets the folder at once, so
// a deletion right after (before any remote pass) must not take it along.
TEST_F(EngineExcludedDeleteTest, AFolderExcludedAfterItsSyncIsNotDeletedWithTheFolderAbove) {
  auto a = computer();
  a->write("D/a.txt", "a");
  a->write("D/sub/deep/c.txt", "c");
  ASSERT_EQ(a->start(), 200);
  const Tree all{{"D", "D"},
                 {"D/a.txt", fileEntry("a")},
                 {"D/sub", "D"},
                 {"D/sub/deep", "D"},
                 {"D/sub/deep/c.txt", fileEntry("c")}};
  ASSERT_TRUE(remoteIs(all));
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == all; }));
  ASSERT_TRUE(b->settle());

  b->engine()->pauseSync();
  ASSERT_EQ(b->exclude({"home/D/sub/deep"}), 200);
  ASSERT_FALSE(files::removeTree(b->path("D")));
  b->engine()->resumeSync(false);
  const Tree want{
      {"D", "D"}, {"D/sub", "D"}, {"D/sub/deep", "D"}, {"D/sub/deep/c.txt", fileEntry("c")}};
  EXPECT_TRUE(holdEverywhere({a.get()}, want));
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(remoteTree(), want);
}

// The other way round: a folder deleted on the service leaves what this
// computer holds below it that the service never had (written into a folder
// it excludes), and the folders that hold it.
TEST_F(EngineExcludedDeleteTest, ARemoteFolderDeletionKeepsLocalFilesInAnExcludedFolder) {
  auto a = computer();
  a->write("D/a.txt", "a");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(remoteIs({{"D", "D"}, {"D/a.txt", fileEntry("a")}}));
  auto b = computer();
  ASSERT_EQ(b->exclude({"home/D/sub/deep"}), 200);
  b->write("D/sub/deep/mine.txt", "only here");
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(remoteIs({{"D", "D"}, {"D/a.txt", fileEntry("a")}, {"D/sub", "D"}}));
  ASSERT_TRUE(b->settle());

  ASSERT_FALSE(files::removeTree(a->path("D")));
  ASSERT_TRUE(waitFor([&] { return !b->exists("D/a.txt"); }));
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(b->read("D/sub/deep/mine.txt"), "only here");
  EXPECT_EQ(remoteTree().count("D/sub/deep/mine.txt"), 0u);
}

}  // namespace
}  // namespace varnelo::e2e

namespace varnelo::e2e {
namespace {

// A folder deleted entry by entry goes last, once it holds nothing. A file
// another computer uploads into it between that check and the delete stays.
TEST_F(EngineExcludedDeleteTest, AFileUploadedWhileTheEmptiedFolderIsDeletedStays) {
  auto a = computer();
  a->write("D/a.txt", "a");
  a->write("D/x.txt", "x");
  ASSERT_EQ(a->start(), 200);
  const Tree all{{"D", "D"}, {"D/a.txt", fileEntry("a")}, {"D/x.txt", fileEntry("x")}};
  ASSERT_TRUE(remoteIs(all));
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == all; }));
  ASSERT_TRUE(b->settle());
  // Upload only from now on: this computer never sees x.txt go, so its row
  // of D is out of date and D is deleted entry by entry.
  ASSERT_EQ(b->engine()->stopSync(false), 200);
  ASSERT_EQ(b->start(1), 200);
  ASSERT_FALSE(files::removeFile(a->path("D/x.txt")));
  ASSERT_TRUE(remoteIs({{"D", "D"}, {"D/a.txt", fileEntry("a")}}));

  // Every delete waits three seconds before the service carries it out.
  ASSERT_TRUE(service().setFaults("/delete:delay=1,delayMs=3000"));
  ASSERT_FALSE(files::rename(b->path("D"), b->root() + ".trash"));
  // a.txt is gone (its copy taken aside too): D is being listed and deleted.
  ASSERT_TRUE(waitFor([&] {
    for (const auto& [path, what] : remoteTree())
      if (path.rfind("D/", 0) == 0) return false;
    return true;
  }));
  a->write("D/late.txt", "late");
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("D/late.txt") == 1; }));
  ASSERT_TRUE(service().setFaults(""));
  const Tree want{{"D", "D"}, {"D/late.txt", fileEntry("late")}};
  EXPECT_TRUE(holdEverywhere({a.get()}, want));
  ASSERT_TRUE(waitFor([&] { return b->state().converged != 0; }));
  ASSERT_TRUE(a->settle());
  EXPECT_EQ(remoteTree(), want);
}

}  // namespace
}  // namespace varnelo::e2e
