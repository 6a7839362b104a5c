// Two computers on one account where one renames, moves or deletes a folder
// while the other, not knowing yet, edits a file in it and adds another.
// Whichever change reaches the service first, both computers end equal to
// the service and nothing either user wrote is lost: the renamed folder
// with its files arrives everywhere, and the edited and the new file stay
// under the old folder name (a change wins over the deletion that the
// rename's old half is). And a folder whose creation on the service was
// never confirmed still has its files sent once a remote pass records it; a
// folder deleted entry by entry keeps what another computer changes or adds
// in it while that is under way.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

// What computer A does with "docs".
enum class FolderChange { Rename, MoveInto, Delete };

std::string changeName(const ::testing::TestParamInfo<FolderChange>& info) {
  switch (info.param) {
    case FolderChange::Rename:
      return "Rename";
    case FolderChange::MoveInto:
      return "MoveIntoAnotherFolder";
    case FolderChange::Delete:
      return "Delete";
  }
  return "Unknown";
}

class EngineFolderTest : public EngineTest {};

class EngineFolderChangeTest : public EngineTest,
                               public ::testing::WithParamInterface<FolderChange> {
 protected:
  // The synced tree both computers start from.
  static Tree synced() {
    return {{"docs", "D"},
            {"docs/a.txt", fileEntry("a as synced")},
            {"docs/b.txt", fileEntry("b as synced")},
            {"docs/sub", "D"},
            {"docs/sub/c.txt", fileEntry("c as synced")},
            {"shelf", "D"},
            {"shelf/keep.txt", fileEntry("on the shelf")}};
  }
  void writeSynced(EngineComputer& pc) {
    pc.write("docs/a.txt", "a as synced");
    pc.write("docs/b.txt", "b as synced");
    pc.write("docs/sub/c.txt", "c as synced");
    pc.write("shelf/keep.txt", "on the shelf");
  }

  // A's change to the folder, made on disk.
  void changeFolder(EngineComputer& a) {
    switch (GetParam()) {
      case FolderChange::Rename:
        ASSERT_FALSE(files::rename(a.path("docs"), a.path("papers")));
        break;
      case FolderChange::MoveInto:
        ASSERT_FALSE(files::rename(a.path("docs"), a.path("shelf/docs")));
        break;
      case FolderChange::Delete:
        ASSERT_FALSE(files::removeTree(a.path("docs")));
        break;
    }
  }
  // B's changes inside the folder as B last saw it.
  static void changeInside(EngineComputer& b) {
    b.write("docs/a.txt", "a edited by b");
    b.write("docs/new.txt", "added by b");
  }

  // Where everything ends: B's edit and B's new file under the old name
  // (with the old folder's parents made again as needed), A's folder under
  // its new name with what A had. b.txt and sub/ were unchanged on B, so
  // A's rename or delete takes them from the old name.
  Tree converged() const {
    Tree want{{"docs", "D"},
              {"docs/a.txt", fileEntry("a edited by b")},
              {"docs/new.txt", fileEntry("added by b")},
              {"shelf", "D"},
              {"shelf/keep.txt", fileEntry("on the shelf")}};
    std::string moved;
    if (GetParam() == FolderChange::Rename) moved = "papers";
    if (GetParam() == FolderChange::MoveInto) moved = "shelf/docs";
    if (!moved.empty()) {
      want[moved] = "D";
      want[moved + "/a.txt"] = fileEntry("a as synced");
      want[moved + "/b.txt"] = fileEntry("b as synced");
      want[moved + "/sub"] = "D";
      want[moved + "/sub/c.txt"] = fileEntry("c as synced");
    }
    return want;
  }

  // Waits until the service and every computer hold `want`, and every
  // computer has nothing left to do.
  ::testing::AssertionResult holdEverywhere(std::initializer_list<EngineComputer*> pcs,
                                            const Tree& want, int timeoutMs = 60000) {
    return EngineTest::holdEverywhere(pcs, want, timeoutMs, /*idle=*/true);
  }
  bool remoteIs(const Tree& want) {
    return waitFor([&] { return remoteTree() == want; }, 30000);
  }
  // Both computers synced over the starting tree.
  void startSynced(EngineComputer& a, EngineComputer& b) {
    writeSynced(a);
    ASSERT_EQ(a.start(), 200);
    ASSERT_EQ(b.start(), 200);
    ASSERT_TRUE(holdEverywhere({&a, &b}, synced()));
  }
  // Two more remote passes of each computer change nothing.
  void expectStable(EngineComputer& a, EngineComputer& b, const Tree& want) {
    ASSERT_TRUE(a.settle());
    ASSERT_TRUE(b.settle());
    ASSERT_TRUE(a.settle());
    EXPECT_EQ(remoteTree(), want);
    EXPECT_EQ(a.tree(), want);
    EXPECT_EQ(b.tree(), want);
  }
};

// B's changes are on the service before A, which was off, sends its own:
// A's deletion of the old name keeps them, and A has to bring them back.
TEST_P(EngineFolderChangeTest, ChangesInsideMadeElsewhereFirstComeBackToTheChangingComputer) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, *b));

  a->engine()->stopSync(false);
  changeInside(*b);
  Tree withB = synced();
  withB["docs/a.txt"] = fileEntry("a edited by b");
  withB["docs/new.txt"] = fileEntry("added by b");
  ASSERT_TRUE(remoteIs(withB));
  ASSERT_TRUE(b->settle());
  ASSERT_NO_FATAL_FAILURE(changeFolder(*a));
  ASSERT_EQ(a->start(), 200);

  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, converged()));
  ASSERT_NO_FATAL_FAILURE(expectStable(*a, *b, converged()));
}

// The same, with A running: its monitor sees the folder change while B's
// changes are already on the service but A has not listed them yet (A's
// remote passes are far apart).
TEST_P(EngineFolderChangeTest, ChangesInsideMadeElsewhereFirstComeBackToARunningComputer) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, *b));

  a->engine()->stopSync(false);
  // Neither a poll nor the service's change reports bring a pass.
  setenv("VARNELO_REMOTE_POLL_MS", "600000", 1);
  setenv("VARNELO_REMOTE_WATCH", "0", 1);
  ASSERT_EQ(a->start(), 200);
  // The sync thread reads the settings as it begins.
  ASSERT_TRUE(waitFor([&] { return a->state().converged; }));
  setenv("VARNELO_REMOTE_POLL_MS", "250", 1);
  unsetenv("VARNELO_REMOTE_WATCH");
  const uint64_t passes = a->state().remotePasses;
  changeInside(*b);
  Tree withB = synced();
  withB["docs/a.txt"] = fileEntry("a edited by b");
  withB["docs/new.txt"] = fileEntry("added by b");
  ASSERT_TRUE(remoteIs(withB));
  ASSERT_NO_FATAL_FAILURE(changeFolder(*a));
  // A sends its change and then, not before its next poll, lists again.
  ASSERT_TRUE(waitFor([&] { return remoteTree() != withB && a->state().converged; }));
  ASSERT_EQ(a->state().remotePasses, passes) << "A listed B's changes before its own change";
  a->engine()->stopSync(false);
  ASSERT_EQ(a->start(), 200);

  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, converged()));
  ASSERT_NO_FATAL_FAILURE(expectStable(*a, *b, converged()));
}

// A's change is on the service first; B, which was off, then sends changes
// into a folder that is no longer there under that name.
TEST_P(EngineFolderChangeTest, ChangesInsideAFolderChangedElsewhereFirstStay) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, *b));

  b->engine()->stopSync(false);
  ASSERT_NO_FATAL_FAILURE(changeFolder(*a));
  ASSERT_TRUE(waitFor([&] { return remoteTree() == a->tree(); }));
  ASSERT_TRUE(a->settle());
  changeInside(*b);
  ASSERT_EQ(b->start(), 200);

  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, converged()));
  ASSERT_NO_FATAL_FAILURE(expectStable(*a, *b, converged()));
}

// The service makes a folder but its reply is lost: the upload of the
// folder is retried, but the next remote pass finds the folder first and
// records it as synced. What the folder holds must still go up then; the
// folder is never listed with it (the full local scan that would find it is
// ten minutes away).
TEST_F(EngineFolderTest, TheFilesOfAFolderWhoseCreationWasNotConfirmedStillGoUp) {
  auto a = computer();
  a->write("docs/a.txt", "in docs");
  a->write("docs/sub/c.txt", "deeper");
  a->write("shelf/keep.txt", "on the shelf");
  ASSERT_EQ(a->start(), 200);
  const Tree before = a->tree();
  ASSERT_TRUE(waitFor([&] { return remoteTree() == before; }));
  ASSERT_TRUE(a->settle());

  ASSERT_TRUE(service().setFaults("/mkdir:drop=1"));
  ASSERT_FALSE(files::rename(a->path("docs"), a->path("shelf/docs")));
  const Tree after = a->tree();
  ASSERT_NE(after, before);
  EXPECT_TRUE(waitFor([&] { return remoteTree() == after && a->state().converged; }))
      << ::testing::PrintToString(remoteTree());
  ASSERT_TRUE(service().setFaults(""));
  ASSERT_TRUE(a->settle());
  EXPECT_EQ(remoteTree(), after);
}

// A synced folder is deleted, its deletion fails and waits to be tried
// again, and meanwhile another folder is moved in under its name. When the
// retry comes the name holds a folder again, one that no event describes
// against the rows of the old one: the old content's deletion and the new
// content must both still reach the service.
TEST_F(EngineFolderTest, AFolderMovedInWhereADeletedOneWaitsToBeSentTakesItsPlace) {
  auto a = computer();
  auto b = computer();
  a->write("docs/a.txt", "old a");
  a->write("docs/sub/b.txt", "old b");
  a->write("other/c.txt", "new c");
  a->write("other/sub/d.txt", "new d");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree() == a->tree() && b->tree() == a->tree(); }));
  ASSERT_TRUE(a->settle());

  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_FALSE(files::removeTree(a->path("docs")));
  ASSERT_TRUE(waitFor([&] { return a->latestResult("docs") == "500"; }))
      << "docs: " << a->latestResult("docs");
  ASSERT_FALSE(files::rename(a->path("other"), a->path("docs")));
  ASSERT_TRUE(waitFor([&] { return a->latestResult("other") == "500"; }))
      << "other: " << a->latestResult("other");
  ASSERT_TRUE(service().setFaults(""));

  const Tree want{{"docs", "D"},
                  {"docs/c.txt", fileEntry("new c")},
                  {"docs/sub", "D"},
                  {"docs/sub/d.txt", fileEntry("new d")}};
  ASSERT_EQ(a->tree(), want);
  EXPECT_TRUE(waitFor(
      [&] { return remoteTree() == want && b->tree() == want && a->state().converged; }, 60000))
      << "remote " << ::testing::PrintToString(remoteTree()) << "\nB "
      << ::testing::PrintToString(b->tree());
  EXPECT_EQ(a->tree(), want);
}

// The retried creation finds the name taken (by the first one, whose reply
// was lost) and cannot ask the service what holds it: that is a failure to
// retry, not a conflict with a file of that name.
TEST_F(EngineFolderTest, AFolderWhoseNameCannotBeLookedUpIsRetriedNotAConflict) {
  auto a = computer();
  a->write("keep.txt", "here first");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree() == a->tree(); }));
  ASSERT_TRUE(a->settle());

  // No remote pass may list the folder meanwhile: it would record it.
  ASSERT_TRUE(service().setFaults("/mkdir:drop=1;/get:error=1"));
  // Empty: a file's upload would record the folder on its own.
  ASSERT_FALSE(files::createDirectory(a->path("docs")));
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs") == 1; }))
      << ::testing::PrintToString(remoteTree());
  ASSERT_TRUE(service().setFaults("/get:error=1"));
  EXPECT_TRUE(
      waitFor([&] { return !a->latestResult("docs").empty() && a->latestResult("docs") != "18"; }));
  EXPECT_EQ(a->latestResult("docs"), "500");
  ASSERT_TRUE(service().setFaults(""));
  // Then the retry or a remote pass, whichever comes first, records it.
  EXPECT_TRUE(waitFor([&] { return remoteTree() == a->tree() && a->state().converged; }))
      << ::testing::PrintToString(remoteTree());
}

// A folder changed elsewhere is deleted entry by entry, each only while it
// is as last synced. Every delete is slow here, so the other computer edits
// an entry after the listing was read but before that entry's turn: the
// edit must stay (the entry is read again right before its delete).
TEST_F(EngineFolderTest, AnEditMadeWhileAFolderIsDeletedEntryByEntryStays) {
  auto a = computer();
  auto b = computer();
  const std::vector<std::string> names{"a", "b", "c", "d", "e", "f", "g", "h"};
  for (const std::string& n : names) a->write("docs/" + n + ".txt", "synced " + n);
  a->write("keep.txt", "outside");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  const Tree synced = a->tree();
  ASSERT_TRUE(waitFor([&] { return remoteTree() == synced && b->tree() == synced; }));
  ASSERT_TRUE(a->settle());

  // A is off while B edits one file, so A's deletion has to walk the folder.
  a->engine()->stopSync(false);
  b->write("docs/a.txt", "edited by b first");
  ASSERT_TRUE(
      waitFor([&] { return remoteTree()["docs/a.txt"] == fileEntry("edited by b first"); }));
  ASSERT_TRUE(b->settle());
  ASSERT_TRUE(service().setFaults("/delete:delay=1,delayMs=400"));
  ASSERT_FALSE(files::removeTree(a->path("docs")));
  ASSERT_EQ(a->start(), 200);
  // Once A's first deletion is through, B edits the last file of the folder.
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs/b.txt") == 0; }));
  ASSERT_EQ(remoteTree().count("docs/h.txt"), 1u) << "A deleted too fast for this test";
  b->write("docs/h.txt", "edited by b meanwhile");
  ASSERT_TRUE(
      waitFor([&] { return remoteTree()["docs/h.txt"] == fileEntry("edited by b meanwhile"); }));

  const Tree want{{"docs", "D"},
                  {"docs/a.txt", fileEntry("edited by b first")},
                  {"docs/h.txt", fileEntry("edited by b meanwhile")},
                  {"keep.txt", fileEntry("outside")}};
  EXPECT_TRUE(waitFor(
      [&] { return remoteTree() == want && a->tree() == want && b->tree() == want; }, 60000))
      << "remote " << ::testing::PrintToString(remoteTree()) << "\nA "
      << ::testing::PrintToString(a->tree()) << "\nB " << ::testing::PrintToString(b->tree());
  ASSERT_TRUE(service().setFaults(""));
}

// The same walk where every entry was still as synced (B's change inside
// was undone): the folder itself goes last, and only while nothing came into
// it during the walk.
TEST_F(EngineFolderTest, AFileAddedWhileAFolderIsDeletedEntryByEntryStays) {
  auto a = computer();
  auto b = computer();
  for (const std::string n : {"a", "b", "c", "d", "e", "f"})
    a->write("docs/" + n + ".txt", "synced " + n);
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  const Tree synced = a->tree();
  ASSERT_TRUE(waitFor([&] { return remoteTree() == synced && b->tree() == synced; }));
  ASSERT_TRUE(a->settle());

  a->engine()->stopSync(false);
  b->write("docs/brief.txt", "there for a moment");
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs/brief.txt") == 1; }));
  ASSERT_FALSE(files::removeFile(b->path("docs/brief.txt")));
  ASSERT_TRUE(waitFor([&] { return remoteTree() == synced; }));
  ASSERT_TRUE(b->settle());
  ASSERT_TRUE(service().setFaults("/delete:delay=1,delayMs=400"));
  ASSERT_FALSE(files::removeTree(a->path("docs")));
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs/a.txt") == 0; }));
  ASSERT_EQ(remoteTree().count("docs/f.txt"), 1u) << "A deleted too fast for this test";
  b->write("docs/new.txt", "added by b meanwhile");
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs/new.txt") == 1; }));

  const Tree want{{"docs", "D"}, {"docs/new.txt", fileEntry("added by b meanwhile")}};
  EXPECT_TRUE(waitFor(
      [&] { return remoteTree() == want && a->tree() == want && b->tree() == want; }, 60000))
      << "remote " << ::testing::PrintToString(remoteTree()) << "\nA "
      << ::testing::PrintToString(a->tree()) << "\nB " << ::testing::PrintToString(b->tree());
  ASSERT_TRUE(service().setFaults(""));
}

INSTANTIATE_TEST_SUITE_P(Changes, EngineFolderChangeTest,
                         ::testing::Values(FolderChange::Rename, FolderChange::MoveInto,
                                           FolderChange::Delete),
                         changeName);

}  // namespace
}  // namespace varnelo::e2e
