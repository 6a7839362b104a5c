// Case twins over time: which of two twins is the synced one is asked of the
// service when the journal alone cannot tell (a folder row); when the service
// does not answer, the twins' paths wait and are tried again, never taken as
// unsupported for good. When the synced twin is deleted, the one that stays
// takes its name on the service: the deletion is not lost, nor is the
// remaining twin left out for good, nor still reported as left out. When no
// twin is spelled as the service holds the name, the one holding the synced
// children keeps the binding; when the synced twin goes and none of the twins
// left can be it, its remote entry is deleted and they are decided anew.
#include <algorithm>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineCaseTwinRetryTest : public EngineTest {};

// `tree` with every path in lower case: computers may keep their own
// spelling of a name.
Tree folded(const Tree& tree) {
  Tree out;
  for (const auto& [path, what] : tree) {
    std::string key = path;
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    out[key] = what;
  }
  return out;
}

TEST_F(EngineCaseTwinRetryTest, AnUndecidedTwinGroupIsRetriedNotRefused) {
  auto pc = computer();
  pc->write("docs/x.txt", "v1");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["docs/x.txt"] == fileEntry("v1"); }));
  // A newcomer twin beside the synced folder is refused while the service answers.
  pc->write("Docs/y.txt", "twin");
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("result -113 " + pc->path("Docs")); }));
  ASSERT_TRUE(pc->settle());
  pc->sink().clear();

  // Listings fail now, so the twins cannot be told apart; the root changes
  // (z.txt), so its listing is taken again.
  ASSERT_TRUE(service().setFaults("/get:error=1"));
  pc->write("z.txt", "root changed");
  pc->write("docs/x.txt", "v2 while the service fails");
  ASSERT_TRUE(waitFor([&] {
    for (const std::string& line : pc->sink().lines()) {
      if (line.rfind("result ", 0) == 0 && line.find(pc->path("docs/x.txt")) != std::string::npos)
        return true;
    }
    return false;
  }));
  ASSERT_TRUE(service().setFaults(""));
  EXPECT_TRUE(waitFor([&] {
    return remoteTree()["docs/x.txt"] == fileEntry("v2 while the service fails");
  })) << ::testing::PrintToString(pc->sink().lines());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(remoteTree().count("docs/y.txt"), 0u);  // the newcomer stays out
}

TEST_F(EngineCaseTwinRetryTest, TheTwinThatStaysTakesTheNameOfTheDeletedOne) {
  auto pc = computer();
  auto other = computer();
  pc->write("Notes.txt", "synced twin");
  pc->write("docs/a.txt", "in the synced folder");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->read("docs/a.txt") == "in the synced folder"; }));
  pc->write("notes.txt", "newcomer twin");
  pc->write("Docs/b.txt", "in the newcomer folder");
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("result -113 " + pc->path("Docs")); }));
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("result -113 " + pc->path("notes.txt")); }));
  ASSERT_TRUE(pc->settle());

  ASSERT_FALSE(platform::files::removeFile(pc->path("Notes.txt")));
  ASSERT_FALSE(platform::files::removeTree(pc->path("docs")));
  // The service keeps its spelling; the contents are the remaining twins'.
  const Tree expected{{"Notes.txt", fileEntry("newcomer twin")},
                      {"docs", "D"},
                      {"docs/b.txt", fileEntry("in the newcomer folder")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return other->tree() == expected; }))
      << ::testing::PrintToString(other->tree());
  // Both twins that took the names are no longer shown as left out.
  EXPECT_TRUE(pc->settle());
  EXPECT_NE(pc->latestResult("Docs"), "-113");
  EXPECT_NE(pc->latestResult("Docs/b.txt"), "-113");
  EXPECT_NE(pc->latestResult("notes.txt"), "-113");
}

TEST_F(EngineCaseTwinRetryTest, ARefusedSpellingTakenOverByACaseRenameIsReportedInStep) {
  auto pc = computer();
  pc->write("docs/a.txt", "in the synced folder");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs/a.txt") == 1; }));
  pc->write("Docs/b.txt", "in the newcomer folder");
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("result -113 " + pc->path("Docs")); }));
  ASSERT_TRUE(pc->settle());

  // The newcomer moves away, and the synced folder takes its spelling.
  ASSERT_FALSE(platform::files::rename(pc->path("Docs"), pc->path("other")));
  ASSERT_FALSE(platform::files::rename(pc->path("docs"), pc->path("Docs")));
  const Tree expected{{"docs", "D"},
                      {"docs/a.txt", fileEntry("in the synced folder")},
                      {"other", "D"},
                      {"other/b.txt", fileEntry("in the newcomer folder")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return pc->latestResult("Docs") != "-113"; }))
      << ::testing::PrintToString(pc->sink().lines());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(remoteTree(), expected);
}

TEST_F(EngineCaseTwinRetryTest, NoTwinSpelledAsTheServiceTheOneHoldingTheSyncedFilesKeepsIt) {
  auto pc = computer();
  pc->write("docs/a.txt", "v1");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["docs/a.txt"] == fileEntry("v1"); }));
  ASSERT_TRUE(pc->settle());
  // A case-only rename is not sent: the service keeps "docs". Then a
  // newcomer takes a third spelling, so neither twin is spelled as the service.
  ASSERT_FALSE(platform::files::rename(pc->path("docs"), pc->path("DOCS")));
  pc->write("Docs/b.txt", "newcomer");
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("result -113 " + pc->path("Docs")); }))
      << ::testing::PrintToString(pc->sink().lines());
  pc->write("DOCS/a.txt", "v2");
  EXPECT_TRUE(waitFor([&] { return remoteTree()["docs/a.txt"] == fileEntry("v2"); }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(pc->settle());
  const Tree expected{{"docs", "D"}, {"docs/a.txt", fileEntry("v2")}};
  EXPECT_EQ(remoteTree(), expected);
  EXPECT_EQ(pc->read("Docs/b.txt"), "newcomer");
}

TEST_F(EngineCaseTwinRetryTest, TwinsOfAFolderDeletedElsewhereDoNotStallTheChangeInside) {
  auto pc = computer();
  auto other = computer();
  pc->write("docs/a.txt", "synced");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->read("docs/a.txt") == "synced"; }));
  ASSERT_TRUE(pc->settle());
  pc->engine()->stopSync(false);

  // Deleted on the other computer while this one, not running, adds a file
  // to the synced folder and makes a twin of it.
  ASSERT_FALSE(platform::files::removeTree(other->path("docs")));
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs") == 0; }));
  pc->write("docs/new.txt", "written meanwhile");
  pc->write("Docs/x.txt", "newcomer");
  ASSERT_EQ(pc->start(), 200);

  // The new file wins over the deletion; the unchanged one stays deleted.
  const Tree expected{{"docs", "D"}, {"docs/new.txt", fileEntry("written meanwhile")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return other->tree() == expected; }))
      << ::testing::PrintToString(other->tree());
  EXPECT_TRUE(pc->sink().has("result -113 " + pc->path("Docs")));
  EXPECT_FALSE(pc->exists("docs/a.txt"));
  EXPECT_EQ(pc->read("Docs/x.txt"), "newcomer");
}

// Both sides once the synced report.txt went to shelf/ from beside its two
// newcomer twins: the first twin in byte order holds the name.
Tree movedAwayFromTwoNewcomers() {
  return {{"docs", "D"},
          {"docs/REPORT.txt", fileEntry("second newcomer")},
          {"shelf", "D"},
          {"shelf/keep.txt", fileEntry("kept")},
          {"shelf/report.txt", fileEntry("synced")}};
}

// The synced file is moved to another folder while two newcomer twins of it
// stay, neither of which is the synced one: the move still reaches the
// service (the old name is deleted there instead of kept for good), and then
// the first twin in byte order takes the name while the other stays out.
TEST_F(EngineCaseTwinRetryTest, ASyncedFileMovedAwayFromTwoNewcomerTwinsLeavesTheNameToThem) {
  auto pc = computer();
  auto other = computer();
  pc->write("docs/report.txt", "synced");
  pc->write("shelf/keep.txt", "kept");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->read("docs/report.txt") == "synced"; }));
  pc->write("docs/Report.txt", "first newcomer");
  pc->write("docs/REPORT.txt", "second newcomer");
  ASSERT_TRUE(waitFor([&] { return pc->latestResult("docs/Report.txt") == "-113"; }));
  ASSERT_TRUE(waitFor([&] { return pc->latestResult("docs/REPORT.txt") == "-113"; }));
  ASSERT_TRUE(pc->settle());

  ASSERT_FALSE(platform::files::rename(pc->path("docs/report.txt"), pc->path("shelf/report.txt")));
  const Tree expected = movedAwayFromTwoNewcomers();
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return folded(other->tree()) == folded(expected); }))
      << ::testing::PrintToString(other->tree());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(pc->latestResult("docs/Report.txt"), "-113");
  EXPECT_NE(pc->latestResult("docs/REPORT.txt"), "-113");
  EXPECT_EQ(pc->read("docs/Report.txt"), "first newcomer");
}

// As above, but the old name's delete fails after its entry was taken aside.
// The entry then no longer stands at the name, yet it is not a twin's to
// take over: the delete that was begun is finished first, and then a twin
// takes the name as a new file (with the old version as its base, the
// service refused it as a conflict, and it never went up).
TEST_F(EngineCaseTwinRetryTest, ATwinTakesTheNameOnlyOnceTheDeleteBegunForItIsFinished) {
  auto pc = computer();
  pc->write("docs/report.txt", "synced");
  pc->write("shelf/keep.txt", "kept");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("docs/report.txt") == 1; }));
  pc->write("docs/Report.txt", "first newcomer");
  pc->write("docs/REPORT.txt", "second newcomer");
  ASSERT_TRUE(waitFor([&] { return pc->latestResult("docs/Report.txt") == "-113"; }));
  ASSERT_TRUE(waitFor([&] { return pc->latestResult("docs/REPORT.txt") == "-113"; }));
  ASSERT_TRUE(pc->settle());

  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_FALSE(platform::files::rename(pc->path("docs/report.txt"), pc->path("shelf/report.txt")));
  ASSERT_TRUE(waitFor([&] {
    const Tree remote = remoteTree();
    const auto aside = remote.lower_bound("docs/report (Conflicted copy");
    return remote.count("docs/report.txt") == 0 && aside != remote.end() &&
           aside->first.rfind("docs/report (Conflicted copy", 0) == 0;
  })) << ::testing::PrintToString(remoteTree());
  ASSERT_TRUE(waitFor([&] { return pc->state().retrying > 0; }));
  ASSERT_TRUE(service().setFaults(""));
  const Tree expected = movedAwayFromTwoNewcomers();
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(pc->latestResult("docs/Report.txt"), "-113");
  EXPECT_NE(pc->latestResult("docs/REPORT.txt"), "-113");
  // Never refused as a conflict on the way: a remote pass that happens to
  // come first mends that, but when the delete's finish comes first the
  // twin stays out until a full scan.
  for (const std::string& line : pc->sink().lines()) {
    EXPECT_NE(line, "result 409 " + pc->path("docs/REPORT.txt"));
  }
}

// A scan finds a newcomer twin of a synced folder while the service cannot
// answer which of them is the synced one: neither is reported as left out
// for good (the synced one never is), and once the service answers the
// synced folder takes part again and only the newcomer stays out. What was
// written into the synced folder while the engine was not running (only the
// scan can find it) is sent once the twins are decided.
TEST_F(EngineCaseTwinRetryTest, TwinsAScanCannotDecideAreRetriedNotRefused) {
  auto pc = computer();
  pc->write("docs/a.txt", "synced");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["docs/a.txt"] == fileEntry("synced"); }));
  ASSERT_TRUE(pc->settle());
  pc->engine()->stopSync(false);
  pc->write("Docs/b.txt", "newcomer");
  pc->write("docs/a.txt", "edited while stopped");
  pc->write("docs/new.txt", "written while stopped");
  // The question is asked under the first twin's spelling.
  ASSERT_TRUE(service().setFaults("/get@home/Docs:error=1"));
  pc->sink().clear();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("result -1 " + pc->path("docs")); }));
  EXPECT_NE(pc->latestResult("docs"), "-113");
  EXPECT_NE(pc->latestResult("Docs"), "-113");
  EXPECT_FALSE(pc->state().converged);
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(waitFor([&] { return pc->latestResult("Docs") == "-113"; }));
  EXPECT_TRUE(waitFor([&] {
    Tree remote = remoteTree();
    return remote["docs/a.txt"] == fileEntry("edited while stopped") &&
           remote["docs/new.txt"] == fileEntry("written while stopped");
  })) << ::testing::PrintToString(remoteTree());
  pc->write("docs/c.txt", "after the answer");
  EXPECT_TRUE(waitFor([&] { return remoteTree()["docs/c.txt"] == fileEntry("after the answer"); }));
  EXPECT_TRUE(pc->settle());
  EXPECT_NE(pc->latestResult("docs"), "-113");
  EXPECT_EQ(remoteTree().count("docs/b.txt"), 0u);
}

// The synced folder, empty here, is renamed on another computer while a
// newcomer twin of it holds new work: the newcomer's work reaches the
// service, and the twin that stays beside it locally is shown as left out
// (never silently out of step).
TEST_F(EngineCaseTwinRetryTest, ATwinLeftBesideARemotelyRemovedFolderIsReported) {
  auto pc = computer();
  auto other = computer();
  ASSERT_FALSE(platform::files::createDirectories(pc->path("box/photo")));
  pc->write("box/keep.txt", "kept");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->exists("box/photo"); }));
  pc->write("box/PHOtO/new.txt", "newcomer's work");
  ASSERT_TRUE(waitFor([&] { return pc->latestResult("box/PHOtO") == "-113"; }));
  ASSERT_TRUE(pc->settle());

  ASSERT_FALSE(platform::files::rename(other->path("box/photo"), other->path("box/report")));
  EXPECT_TRUE(waitFor([&] {
    const Tree remote = folded(remoteTree());
    return remote.count("box/photo/new.txt") == 1 &&
           remote.at("box/photo/new.txt") == fileEntry("newcomer's work") &&
           remote.count("box/report") == 1;
  })) << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(pc->settle());
  EXPECT_TRUE(other->settle());
  // Whichever spelling stays beside the one on the service is left out and
  // says so.
  const Tree remote = remoteTree();
  for (const char* twin : {"box/photo", "box/PHOtO"}) {
    if (pc->exists(twin) && remote.count(twin) == 0) {
      EXPECT_EQ(pc->latestResult(twin), "-113") << twin;
    }
  }
  EXPECT_EQ(pc->read("box/PHOtO/new.txt"), "newcomer's work");
}

// The synced folder is deleted while the engine is not running, beside two
// newcomer twins of it, and another computer has edited a file in it: the
// scan after the start weighs the deletion as it would have been weighed
// when seen (the unchanged file goes, the edit stays), and then the twins
// are decided by byte order, so the edit comes down into the one that takes
// the name instead of every twin staying out for good.
TEST_F(EngineCaseTwinRetryTest, ASyncedFolderDeletedWhileStoppedBesideTwoNewcomersIsWeighed) {
  auto pc = computer();
  auto other = computer();
  pc->write("box/a.txt", "synced a");
  pc->write("box/b.txt", "synced b");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->read("box/b.txt") == "synced b"; }));
  ASSERT_TRUE(pc->settle());
  pc->engine()->stopSync(false);
  other->write("box/a.txt", "edited elsewhere");
  ASSERT_TRUE(waitFor([&] { return remoteTree()["box/a.txt"] == fileEntry("edited elsewhere"); }));
  ASSERT_FALSE(platform::files::removeTree(pc->path("box")));
  pc->write("BOX/new.txt", "first newcomer");
  pc->write("Box/other.txt", "second newcomer");
  ASSERT_EQ(pc->start(), 200);

  const Tree expected{{"box", "D"},
                      {"box/a.txt", fileEntry("edited elsewhere")},
                      {"box/new.txt", fileEntry("first newcomer")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return pc->read("BOX/a.txt") == "edited elsewhere"; }))
      << ::testing::PrintToString(pc->tree());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(pc->latestResult("Box"), "-113");
  EXPECT_EQ(pc->read("Box/other.txt"), "second newcomer");
  EXPECT_EQ(remoteTree(), expected);
}

// As above, but one of the twins left is spelled exactly as the journal
// keeps the name (in lower case), and the service now holds another folder
// under a third spelling: the synced folder was moved away elsewhere and a
// new one took its name. The twin whose path is the row's own does not block
// the weighing: the twins are decided anew, the service's folder comes down
// into the one that takes the name and its newcomer work goes up, and the
// other twin stays out, said so, with what it holds.
TEST_F(EngineCaseTwinRetryTest, ATwinSpelledAsTheJournalKeepsTheNameDoesNotStallTheOthers) {
  auto pc = computer();
  auto other = computer();
  pc->write("box/a.txt", "synced");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->read("box/a.txt") == "synced"; }));
  ASSERT_TRUE(pc->settle());
  pc->engine()->stopSync(false);

  ASSERT_FALSE(platform::files::rename(other->path("box"), other->path("old")));
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("old/a.txt") == 1; }));
  other->write("BoX/x.txt", "the new folder's");
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("BoX/x.txt") == 1; }));
  ASSERT_TRUE(other->settle());
  // Meanwhile, on this computer: the synced folder is emptied and a newcomer
  // twin of it holds new work.
  ASSERT_FALSE(platform::files::removeFile(pc->path("box/a.txt")));
  pc->write("BOX/new.txt", "newcomer");
  ASSERT_EQ(pc->start(), 200);

  const Tree expected{{"BoX", "D"},
                      {"BoX/new.txt", fileEntry("newcomer")},
                      {"BoX/x.txt", fileEntry("the new folder's")},
                      {"old", "D"},
                      {"old/a.txt", fileEntry("synced")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return pc->read("BOX/x.txt") == "the new folder's"; }))
      << ::testing::PrintToString(pc->tree());
  EXPECT_TRUE(pc->settle());
  EXPECT_TRUE(other->settle());
  EXPECT_EQ(remoteTree(), expected);
  EXPECT_EQ(folded(other->tree()), folded(expected));
  EXPECT_EQ(pc->read("old/a.txt"), "synced");
  EXPECT_TRUE(pc->exists("box"));
  EXPECT_EQ(pc->latestResult("box"), "-113");
}

// The synced file is renamed in case only (not sent), a newcomer twin
// takes a third spelling, and then the synced twin is edited: its size and
// time no longer say it is the synced one, and no twin is spelled as the
// service holds the name. It stays the synced one all the same, so the edit
// goes up while the newcomer stays out.
TEST_F(EngineCaseTwinRetryTest, AnEditedSyncedFileTwinStaysTheSyncedOne) {
  auto pc = computer();
  pc->write("report.txt", "as synced");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["report.txt"] == fileEntry("as synced"); }));
  ASSERT_TRUE(pc->settle());
  ASSERT_FALSE(platform::files::rename(pc->path("report.txt"), pc->path("Report.txt")));
  pc->write("REPORT.txt", "a newcomer");
  ASSERT_TRUE(waitFor([&] { return pc->latestResult("REPORT.txt") == "-113"; }));
  ASSERT_TRUE(pc->settle());

  pc->write("Report.txt", "edited after the rename");
  EXPECT_TRUE(waitFor([&] {
    return remoteTree()["report.txt"] == fileEntry("edited after the rename");
  })) << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(remoteTree().size(), 1u);
  EXPECT_NE(pc->latestResult("Report.txt"), "-113");
  EXPECT_EQ(pc->latestResult("REPORT.txt"), "-113");
  EXPECT_EQ(pc->read("REPORT.txt"), "a newcomer");
}

// While the engine is not running, the synced folder's files are split
// between two case twins of it, neither spelled as the service holds it:
// neither can be told to be the synced one, and the synced folder is not
// gone either, so nothing is deleted on the service or on the other
// computer. Once a rename leaves one twin, that one takes the name and the
// other's file goes up under its new name.
TEST_F(EngineCaseTwinRetryTest, SyncedFilesSplitBetweenTwinsAreNeverTakenAsDeleted) {
  auto pc = computer();
  auto other = computer();
  pc->write("docs/a.txt", "first");
  pc->write("docs/b.txt", "second");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_EQ(other->start(), 200);
  ASSERT_TRUE(waitFor([&] { return other->read("docs/b.txt") == "second"; }));
  ASSERT_TRUE(pc->settle());
  pc->engine()->stopSync(false);
  ASSERT_FALSE(platform::files::rename(pc->path("docs"), pc->path("DOCS")));
  ASSERT_FALSE(platform::files::createDirectory(pc->path("Docs")));
  ASSERT_FALSE(platform::files::rename(pc->path("DOCS/b.txt"), pc->path("Docs/b.txt")));
  pc->sink().clear();
  ASSERT_EQ(pc->start(), 200);

  const Tree synced{
      {"docs", "D"}, {"docs/a.txt", fileEntry("first")}, {"docs/b.txt", fileEntry("second")}};
  EXPECT_TRUE(waitFor([&] { return pc->latestResult("Docs") == "-113"; }));
  EXPECT_TRUE(waitFor([&] { return pc->latestResult("DOCS") == "-113"; }));
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(remoteTree(), synced);
  EXPECT_TRUE(other->settle());
  EXPECT_EQ(other->tree(), synced);

  ASSERT_FALSE(platform::files::rename(pc->path("Docs"), pc->path("split")));
  const Tree after{{"docs", "D"},
                   {"docs/a.txt", fileEntry("first")},
                   {"split", "D"},
                   {"split/b.txt", fileEntry("second")}};
  EXPECT_TRUE(waitFor([&] { return folded(remoteTree()) == folded(after); }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(waitFor([&] { return folded(other->tree()) == folded(after); }))
      << ::testing::PrintToString(other->tree());
  EXPECT_EQ(pc->read("DOCS/a.txt"), "first");
  EXPECT_EQ(pc->read("split/b.txt"), "second");
}

}  // namespace
}  // namespace varnelo::e2e
