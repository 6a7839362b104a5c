// Real engines against the reference service: local changes reach the
// service, two computers on one account converge after every kind of change
// on either side, and the engine's controls (sync mode, pause and resume,
// the exclude list, restart, unlink) do what the application relies on.
#include <algorithm>

#include "FileJournal.h"
#include "JournalFiles.h"
#include "MetaApi.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

constexpr int kChangeDeadlineMs = 15000;

bool hasConflictedCopy(const Tree& tree, const std::string& stem) {
  return std::any_of(tree.begin(), tree.end(), [&](const auto& e) {
    return e.first.rfind(stem + " (Conflicted copy", 0) == 0;
  });
}

class EngineSyncTest : public EngineTest {
 protected:
  // Waits until the service and every computer hold the same tree.
  ::testing::AssertionResult converged(std::initializer_list<EngineComputer*> pcs,
                                       int timeoutMs = 60000) {
    Tree remote;
    const bool ok = waitFor(
        [&] {
          remote = remoteTree();
          for (EngineComputer* pc : pcs) {
            if (pc->tree() != remote) return false;
          }
          return true;
        },
        timeoutMs);
    if (ok) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "remote:";
    for (const auto& [path, what] : remote) failure << "\n  " << path << " " << what;
    for (EngineComputer* pc : pcs) {
      failure << "\nlocal " << pc->root() << ":";
      for (const auto& [path, what] : pc->tree()) failure << "\n  " << path << " " << what;
    }
    return failure;
  }
  bool remoteHas(const std::string& path, const std::string& what) {
    return waitFor(
        [&] {
          auto t = remoteTree();
          return t.count(path) && t[path] == what;
        },
        kChangeDeadlineMs);
  }
  bool remoteLacks(const std::string& path) {
    return waitFor([&] { return remoteTree().count(path) == 0; }, kChangeDeadlineMs);
  }
};

TEST_F(EngineSyncTest, EachKindOfLocalChangeReachesTheService) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());

  pc->write("new.txt", "first");
  EXPECT_TRUE(remoteHas("new.txt", fileEntry("first")));
  pc->write("new.txt", "second version");
  EXPECT_TRUE(remoteHas("new.txt", fileEntry("second version")));
  ASSERT_FALSE(platform::files::rename(pc->path("new.txt"), pc->path("renamed.txt")));
  EXPECT_TRUE(remoteHas("renamed.txt", fileEntry("second version")));
  EXPECT_TRUE(remoteLacks("new.txt"));
  ASSERT_FALSE(platform::files::removeFile(pc->path("renamed.txt")));
  EXPECT_TRUE(remoteLacks("renamed.txt"));
  ASSERT_FALSE(platform::files::createDirectory(pc->path("Folder")));
  EXPECT_TRUE(remoteHas("Folder", "D"));
  EXPECT_TRUE(pc->sink().has("uploaded " + pc->path("new.txt")));
  EXPECT_TRUE(converged({pc.get()}));
}

TEST_F(EngineSyncTest, ACaseOnlyRenameSendsNothing) {
  auto pc = computer();
  pc->write("Report.txt", "content");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(remoteHas("Report.txt", fileEntry("content")));
  ASSERT_TRUE(pc->settle());
  pc->sink().clear();
  ASSERT_FALSE(platform::files::rename(pc->path("Report.txt"), pc->path("REPORT.txt")));
  ASSERT_TRUE(pc->settle());
  for (const std::string& line : pc->sink().lines()) {
    EXPECT_EQ(line.find("uploaded"), std::string::npos) << line;
  }
  EXPECT_EQ(remoteTree().count("Report.txt"), 1u);
}

TEST_F(EngineSyncTest, TwoComputersConvergeAfterChangesOnEitherSide) {
  auto a = computer();
  auto b = computer();
  a->write("docs/a.txt", "from a");
  a->write("docs/deep/b.bin", std::string(300000, 'b'));
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged({a.get(), b.get()}));

  // New, edited, renamed and deleted on B.
  b->write("from-b.txt", "b was here");
  b->write("docs/a.txt", "edited by b");
  ASSERT_FALSE(platform::files::rename(b->path("docs/deep"), b->path("docs/deeper")));
  ASSERT_TRUE(converged({a.get(), b.get()}));
  EXPECT_EQ(a->read("docs/a.txt"), "edited by b");
  EXPECT_EQ(a->read("docs/deeper/b.bin"), std::string(300000, 'b'));
  ASSERT_FALSE(platform::files::removeTree(a->path("docs/deeper")));
  ASSERT_TRUE(converged({a.get(), b.get()}));
  EXPECT_FALSE(b->exists("docs/deeper"));

  // A folder on one side where a file was on the other.
  ASSERT_FALSE(platform::files::removeFile(a->path("from-b.txt")));
  ASSERT_TRUE(converged({a.get(), b.get()}));
  a->write("from-b.txt/inside.txt", "now a folder");
  ASSERT_TRUE(converged({a.get(), b.get()}));
  EXPECT_EQ(b->read("from-b.txt/inside.txt"), "now a folder");
}

// The monitor reports every rename that puts a download in place. Such a
// report is the engine's own doing while the file is as it was placed, and
// does not go through the upload path; an edit right after it still does.
TEST_F(EngineSyncTest, DownloadedFilesAreNotSentBackButAnEditRightAfterIs) {
  constexpr int kFiles = 40;
  auto a = computer();
  auto b = computer();
  for (int i = 0; i < kFiles; ++i)
    a->write("docs/f" + std::to_string(i) + ".txt", "v1 " + std::to_string(i));
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged({a.get(), b.get()}));
  int uploadsOnB = 0;
  for (const std::string& line : b->sink().lines()) {
    if (line.rfind("file " + b->path("docs/f"), 0) == 0 && line.ends_with(" 1")) ++uploadsOnB;
  }
  // Reports that come before the engine noted the file go through as before.
  EXPECT_LT(uploadsOnB, kFiles / 4);

  // Written in place, as an editor that saves over the file does.
  ASSERT_FALSE(platform::files::writeFile(b->path("docs/f7.txt"), "edited on b right away"));
  ASSERT_TRUE(remoteHas("docs/f7.txt", fileEntry("edited on b right away")));
  ASSERT_TRUE(converged({a.get(), b.get()}));
  EXPECT_EQ(a->read("docs/f7.txt"), "edited on b right away");
}

// A second save of the same size right after the file went up, in the same
// tick of the file system's clock (here: its time set back to the first
// save's), leaves size and time as the journal recorded them. It still
// reaches the service, and the other computer.
TEST_F(EngineSyncTest, ASecondSaveInTheSameTickAsTheFirstStillGoesUp) {
  auto a = computer();
  auto b = computer();
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  a->write("note.txt", "first save");
  ASSERT_TRUE(remoteHas("note.txt", fileEntry("first save")));
  platform::files::EntryInfo first;
  ASSERT_FALSE(platform::files::stat(a->path("note.txt"), first));
  ASSERT_FALSE(platform::files::writeFile(a->path("note.txt"), "other save"));
  ASSERT_FALSE(platform::files::setLastWriteTime(a->path("note.txt"), first.lastWrite));
  EXPECT_TRUE(remoteHas("note.txt", fileEntry("other save")));
  ASSERT_TRUE(converged({a.get(), b.get()}));
  EXPECT_EQ(b->read("note.txt"), "other save");
}

TEST_F(EngineSyncTest, EditsOnBothSidesKeepBothVersions) {
  auto a = computer();
  auto b = computer();
  a->write("shared.txt", "base");
  a->write("gone.txt", "base");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged({a.get(), b.get()}));

  // Both edit while B is paused; B's edit is the later one to reach the service.
  b->engine()->pauseSync();
  a->write("shared.txt", "edit on a");
  b->write("shared.txt", "edit on b");
  // Delete against edit: A deletes, B edits.
  ASSERT_FALSE(platform::files::removeFile(a->path("gone.txt")));
  b->write("gone.txt", "kept by b");
  ASSERT_TRUE(remoteHas("shared.txt", fileEntry("edit on a")));
  ASSERT_TRUE(remoteLacks("gone.txt"));
  b->engine()->resumeSync(true);
  ASSERT_TRUE(converged({a.get(), b.get()}));
  const Tree tree = a->tree();
  // Neither edit is lost: one side holds the name, the other a conflicted copy.
  std::vector<std::string> contents;
  for (const auto& [path, what] : tree) {
    if (path.rfind("shared", 0) == 0) contents.push_back(a->read(path));
  }
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"edit on a", "edit on b"}));
  EXPECT_TRUE(hasConflictedCopy(tree, "shared"));
  EXPECT_TRUE(tree.count("shared.txt"));
  // The edit made after the other side's delete survives.
  EXPECT_EQ(a->read("gone.txt"), "kept by b");
}

// A new file whose name another computer's file took first is refused
// (409) and waits for the remote pass, which keeps both. When bringing the
// rival down fails and the rival is then deleted, nothing is left to keep
// beside it: the file goes up as new, not at the next full scan.
TEST_F(EngineSyncTest, ANewFileRefusedAsAConflictGoesUpOnceItsRivalIsGone) {
  auto a = computer();
  auto b = computer();
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  b->engine()->stopSync(false);
  a->write("f.txt", "from a");
  ASSERT_TRUE(remoteHas("f.txt", fileEntry("from a")));
  ASSERT_TRUE(a->settle());
  a->engine()->stopSync(false);

  b->write("f.txt", "from b");
  ASSERT_TRUE(service().setFaults("/get@home/f.txt:error=1"));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->sink().has("result 409 " + b->path("f.txt")); }))
      << ::testing::PrintToString(b->sink().lines());
  ASSERT_TRUE(waitFor([&] { return b->latestResult("f.txt") == "500"; }))
      << ::testing::PrintToString(b->sink().lines());

  varnelo_credentials* raw = nullptr;
  const varnelo_token_pair access{tokenKey().c_str(), tokenSecret().c_str()};
  ASSERT_EQ(varnelo_auth_combine(user().c_str(), &http::client_consumer(), &access, &raw), 200);
  const std::unique_ptr<varnelo_credentials, void (*)(varnelo_credentials*)> credentials(
      raw, [](varnelo_credentials* c) { varnelo_destroy_token(c); });
  ASSERT_EQ(http::meta_delete(credentials.get(), "home/f.txt", 30000), 200);
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(remoteHas("f.txt", fileEntry("from b")));
  EXPECT_TRUE(converged({b.get()}));
}

TEST_F(EngineSyncTest, AThousandFileTreeConverges) {
  auto a = computer();
  auto b = computer();
  for (int folder = 0; folder < 20; ++folder) {
    for (int file = 0; file < 50; ++file) {
      a->write("tree/f" + std::to_string(folder) + "/n" + std::to_string(file) + ".txt",
               "content " + std::to_string(folder * 100 + file));
    }
  }
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged({a.get(), b.get()}, 180000));
  EXPECT_EQ(b->tree().size(), 1000u + 20u + 1u);
}

TEST_F(EngineSyncTest, UploadOnlyModeNeverDownloads) {
  auto a = computer();
  auto b = computer();
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(kEngineUploadOnly), 200);
  EXPECT_EQ(b->engine()->getSyncMode(), kEngineUploadOnly);
  a->write("for-b.txt", "never arrives");
  b->write("from-b.txt", "goes up");
  ASSERT_TRUE(remoteHas("from-b.txt", fileEntry("goes up")));
  ASSERT_TRUE(waitFor([&] { return a->exists("from-b.txt"); }, kChangeDeadlineMs));
  ASSERT_TRUE(remoteHas("for-b.txt", fileEntry("never arrives")));
  // B keeps working (its next upload arrives) without ever listing the service.
  b->write("marker.txt", "later");
  ASSERT_TRUE(remoteHas("marker.txt", fileEntry("later")));
  ASSERT_TRUE(waitFor([&] { return b->state().converged == 1; }));
  EXPECT_FALSE(b->exists("for-b.txt"));
  EXPECT_EQ(b->state().remotePasses, 0u);
}

TEST_F(EngineSyncTest, PauseStopsAfterTheCurrentFileAndResumeCatchesUp) {
  setenv("VARNELO_PUT_BATCH", "0", 1);  // one request per file, each slowed down below
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  // A long queue, paused once part of it has gone up. Each put is slowed
  // down, so that the queue cannot all go up before the pause arrives.
  ASSERT_TRUE(service().setFaults("/2/put:delay=1,delayMs=50"));
  for (int i = 0; i < 300; ++i) pc->write("queue/q" + std::to_string(i) + ".txt", "queued");
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() > 10; }));
  ASSERT_EQ(pc->engine()->pauseSync(), 200);
  EXPECT_TRUE(pc->sink().has("state 4"));
  // The file in hand finishes (or gives up); then nothing more is taken.
  ASSERT_TRUE(waitFor([&] {
    const varnelo_sync_state s = pc->state();
    return s.paused == 1 && s.inFlight == 0 && !s.converged;
  }));
  EXPECT_LT(remoteTree().size(), pc->tree().size());  // the rest was held back
  ASSERT_TRUE(service().setFaults(""));
  pc->write("while-paused.txt", "held");
  ASSERT_EQ(pc->engine()->resumeSync(false), 200);
  EXPECT_TRUE(converged({pc.get()}));
  EXPECT_EQ(remoteTree()["while-paused.txt"], fileEntry("held"));
}

TEST_F(EngineSyncTest, ResumeWithRecheckAllListsEveryFolderAgain) {
  auto pc = computer();
  for (int i = 0; i < 30; ++i) pc->write("f" + std::to_string(i) + "/x.txt", "x");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(converged({pc.get()}));
  ASSERT_TRUE(pc->settle());  // the pass after the uploads has recorded every folder
  auto listings = [&] {
    Json::Value all;
    service().counters(&all);
    return all["endpoints"]["/get"]["requests"].asInt64();
  };
  // An ordinary resume lists what changed (nothing): far fewer than 30 folders.
  pc->engine()->pauseSync();
  int64_t before = listings();
  pc->engine()->resumeSync(false);
  ASSERT_TRUE(pc->settle());
  EXPECT_LT(listings() - before, 30);
  // A full recheck lists every folder once more.
  pc->engine()->pauseSync();
  before = listings();
  pc->engine()->resumeSync(true);
  ASSERT_TRUE(pc->settle());
  EXPECT_GE(listings() - before, 31);
}

TEST_F(EngineSyncTest, ExcludedFolderLeavesTheJournalAndKeepsItsFiles) {
  auto pc = computer();
  pc->write("Photos/p1.jpg", "photo");
  pc->write("Docs/d1.txt", "doc");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(converged({pc.get()}));
  const char* dirs[] = {"home/Photos"};
  ASSERT_EQ(pc->engine()->setExcludeDirs(dirs, 1), 200);
  // The local files stay and nothing is deleted on the service.
  pc->write("Photos/p2.jpg", "not sent");
  ASSERT_TRUE(pc->settle());
  EXPECT_EQ(pc->read("Photos/p1.jpg"), "photo");
  EXPECT_EQ(remoteTree().count("Photos/p1.jpg"), 1u);
  EXPECT_EQ(remoteTree().count("Photos/p2.jpg"), 0u);
  pc->shutdown();
  sync::FileJournal journal;
  ASSERT_EQ(journal.open(pc->dataFolder() + "basefs.db"), 0);
  int64_t id = 0;
  EXPECT_EQ(journal.lookupPath("home/photos", id), sync::FileJournal::kNotFound);
  EXPECT_EQ(journal.lookupPath("home/docs/d1.txt", id), 0);
}

TEST_F(EngineSyncTest, ARestartContinuesWhereItStopped) {
  auto a = computer();
  a->write("before.txt", "one");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(converged({a.get()}));
  a->shutdown();
  // Changes on both sides while the engine is away.
  a->write("offline.txt", "made while stopped");
  ASSERT_FALSE(platform::files::removeFile(a->path("before.txt")));
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(converged({a.get()}));
  EXPECT_EQ(remoteTree().count("before.txt"), 0u);
  EXPECT_EQ(remoteTree()["offline.txt"], fileEntry("made while stopped"));
}

TEST_F(EngineSyncTest, ResyncAllStartsFromAnEmptyJournalWithoutDuplicates) {
  auto pc = computer();
  pc->write("kept/a.txt", "same on both sides");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(converged({pc.get()}));
  const Tree before = pc->tree();
  // While the sync runs, resyncAll neither starts a second thread nor pulls
  // the journal from under it.
  ASSERT_EQ(pc->engine()->startSync(true), 200);
  ASSERT_TRUE(pc->settle());
  ASSERT_EQ(pc->engine()->stopSync(false), 200);
  ASSERT_EQ(pc->start(3, true), 200);
  ASSERT_TRUE(pc->settle());
  EXPECT_TRUE(converged({pc.get()}));
  EXPECT_EQ(pc->tree(), before);  // identical content is no conflict
}

TEST_F(EngineSyncTest, AFailedUploadIsRetriedFromTheRetrySet) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  ASSERT_TRUE(service().setFaults("*:error=1"));
  pc->write("flaky.txt", "sent on the second try");
  ASSERT_TRUE(waitFor([&] { return pc->sink().has("file " + pc->path("flaky.txt") + " 256"); }))
      << ::testing::PrintToString(pc->sink().lines());
  EXPECT_TRUE(waitFor([&] { return pc->state().retrying == 1; }));
  ASSERT_TRUE(service().setFaults(""));
  EXPECT_TRUE(remoteHas("flaky.txt", fileEntry("sent on the second try")));
  // The last word on the file is "in step" (said once the service's answer
  // is in, a moment after the service holds the file).
  const auto last = [&] {
    std::string line;
    for (const std::string& l : pc->sink().lines()) {
      if (l.rfind("file " + pc->path("flaky.txt") + " ", 0) == 0) line = l;
    }
    return line;
  };
  EXPECT_TRUE(waitFor([&] { return last() == "file " + pc->path("flaky.txt") + " 0"; })) << last();
}

TEST_F(EngineSyncTest, UnlinkEmptiesTheDataFolderDatabases) {
  auto pc = computer();
  pc->write("x.txt", "x");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(converged({pc.get()}));
  ASSERT_EQ(pc->engine()->unlinkAccount(), 200);
  EXPECT_EQ(pc->engine()->getSession(), nullptr);
  EXPECT_FALSE(platform::files::exists(pc->dataFolder() + "basefs.db"));
  const varnelo_token_pair consumer{"k", "s"};
  EXPECT_EQ(pc->engine()->loginWithSavedToken(&consumer), 404);  // nothing stored
  IVolumes* volumes = nullptr;
  EXPECT_EQ(pc->engine()->getVolumes(&volumes), -104);
  IVarneloStatus* status = nullptr;
  EXPECT_EQ(pc->engine()->getStatus(&status), 404);
}

TEST_F(EngineSyncTest, AJournalOfANewerVersionIsRefusedWith118) {
  auto pc = computer();
  {
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(pc->dataFolder() + "basefs.db"), 0);
    ASSERT_EQ(journal.setDbVersion(3), 0);
  }
  pc->write("never.txt", "not synced");
  ASSERT_EQ(pc->start(), 200);
  EXPECT_TRUE(waitFor([&] { return pc->sink().has("result -118 -"); }));
  EXPECT_TRUE(waitFor([&] { return pc->state().running == 0; }));
  EXPECT_EQ(remoteTree().count("never.txt"), 0u);
}

TEST_F(EngineSyncTest, AJournalThatCannotBeOpenedEndsTheSyncWith124AndItsPath) {
  auto pc = computer();
  // A folder where the journal's file belongs: neither opened nor created.
  ASSERT_FALSE(platform::files::createDirectory(pc->dataFolder() + "basefs.db"));
  pc->write("never.txt", "not synced");
  ASSERT_EQ(pc->start(), 200);
  EXPECT_TRUE(
      waitFor([&] { return pc->sink().has("result -124 " + pc->dataFolder() + "basefs.db"); }));
  EXPECT_TRUE(waitFor([&] { return pc->state().running == 0; }));
  EXPECT_EQ(remoteTree().count("never.txt"), 0u);
  EXPECT_EQ(pc->read("never.txt"), "not synced");
}

TEST_F(EngineSyncTest, SavedTokenSignsInAgainAfterARestart) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  pc->shutdown();
  IVarnelo* engine = nullptr;
  ASSERT_EQ(varnelo_new(pc->dataFolder().c_str(), &engine), 200);
  EXPECT_EQ(engine->loginWithSavedToken(&http::client_consumer()), 200);
  EXPECT_NE(engine->getSession(), nullptr);
  engine->release();
}

}  // namespace
}  // namespace varnelo::e2e
