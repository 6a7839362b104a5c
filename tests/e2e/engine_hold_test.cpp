// The big-delete guard: a pass that would delete a large part of the synced
// files holds those deletions (on either side), keeps syncing everything
// else, reports -123 and waits for the user's confirmation.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

// Sets an environment variable for its lifetime.
struct ScopedEnv {
  ScopedEnv(const char* name, const char* value) : name(name) { setenv(name, value, 1); }
  ~ScopedEnv() { unsetenv(name); }
  const char* name;
};

// Only a top-level folder's limit counts, and it is small (25 files). The
// engine reads its limits as its sync thread starts, so they stay set for
// the whole test.
struct FolderLimitOnly {
  const ScopedEnv folderFiles{"VARNELO_DELETE_HOLD_FOLDER_FILES", "25"};
  const ScopedEnv noShare{"VARNELO_DELETE_HOLD_PERCENT", "100"};
};

class EngineHoldTest : public EngineTest {
 protected:
  // Longer than the pause that ends a run of deletions (two seconds).
  static constexpr auto kStepsApart = std::chrono::milliseconds(2500);

  static uint64_t held(EngineComputer& pc) {
    varnelo_sync_holds out{};
    varnelo_get_sync_holds2(pc.engine(), &out);
    return out.heldDeletions;
  }
  // Starts `pc` and waits until the service holds `synced` and `pc` is idle.
  void startSynced(EngineComputer& pc, const Tree& synced) {
    ASSERT_EQ(pc.start(), 200);
    ASSERT_TRUE(waitFor([&] { return remoteTree() == synced; }, 60000));
    ASSERT_TRUE(pc.settle());
  }
  // Confirms what `pc` holds; the service then comes to `after`.
  void confirmUntil(EngineComputer& pc, const Tree& after) {
    ASSERT_EQ(varnelo_confirm_deletions2(pc.engine()), 200);
    EXPECT_TRUE(waitFor([&] { return remoteTree() == after; }, 60000));
    EXPECT_TRUE(pc.settle());
  }
  // `tree` with the paths that start with `from` starting with `to` instead.
  static Tree renamed(const Tree& tree, const std::string& from, const std::string& to) {
    Tree out;
    for (const auto& [name, entry] : tree) {
      out[name.rfind(from, 0) == 0 ? to + name.substr(from.size()) : name] = entry;
    }
    return out;
  }
  // 30 files in "many/" and one beside it.
  static Tree fill(EngineComputer& pc) {
    Tree tree{{"many", "D"}, {"keep.txt", fileEntry("keep")}};
    pc.write("keep.txt", "keep");
    for (int i = 0; i < 30; ++i) {
      const std::string name = "many/f" + std::to_string(i) + ".txt";
      pc.write(name, "file " + std::to_string(i));
      tree[name] = fileEntry("file " + std::to_string(i));
    }
    return tree;
  }
};

TEST_F(EngineHoldTest, ALocalDeleteOfMostFilesIsHeldUntilConfirmed) {
  auto a = computer();
  const Tree synced = fill(*a);
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));

  // Made while the engine is off, so the start's local scan finds them all.
  a->engine()->stopSync(false);
  ASSERT_FALSE(files::removeTree(a->path("many")));
  a->write("new.txt", "still synced");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -123 -"); }));
  Tree withNew = synced;
  withNew["new.txt"] = fileEntry("still synced");
  ASSERT_TRUE(waitFor([&] { return remoteTree() == withNew; })) << "everything else goes on";
  EXPECT_EQ(held(*a), 30u);
  EXPECT_FALSE(a->state().converged);

  ASSERT_EQ(varnelo_confirm_deletions2(a->engine()), 200);
  Tree after{{"keep.txt", fileEntry("keep")}, {"new.txt", fileEntry("still synced")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == after; }, 60000));
  EXPECT_TRUE(a->settle());
  EXPECT_EQ(held(*a), 0u);
}

TEST_F(EngineHoldTest, LocalDeletionsInQuickStepsAreHeldOnceTheyAddUpToTooMany) {
  auto a = computer();
  const Tree synced = fill(*a);
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));

  // Three steps of ten, each below the limit alone and each its own batch:
  // together they are 30 of 31 files.
  for (int i = 0; i < 30; ++i) {
    ASSERT_FALSE(files::removeFile(a->path("many/f" + std::to_string(i) + ".txt")));
    if (i % 10 == 9) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -123 -"); }));
  ASSERT_TRUE(waitFor([&] { return held(*a) >= 10; }));
  size_t left = 0;
  for (const auto& [name, entry] : remoteTree()) left += name.rfind("many/f", 0) == 0;
  EXPECT_GE(left, 10u) << "the step that made them too many is still on the service";
  EXPECT_EQ(held(*a), left);

  const Tree after{{"keep.txt", fileEntry("keep")}, {"many", "D"}};
  confirmUntil(*a, after);
}

// A top-level folder over the limit renamed, or deleted in pieces: the
// rename holds nothing, and the pieces are weighed as the folder they are.
TEST_F(EngineHoldTest, ATopLevelFolderIsWeighedWholeAndARenameOfItIsNoDeletion) {
  const FolderLimitOnly limits;
  auto a = computer();
  Tree synced = fill(*a);
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));

  ASSERT_FALSE(files::rename(a->path("many"), a->path("moved")));
  const Tree moved = renamed(synced, "many", "moved");
  ASSERT_TRUE(waitFor([&] { return remoteTree() == moved; }, 60000));
  EXPECT_FALSE(a->sink().has("result -123 -")) << "a rename was held as a deletion";
  EXPECT_EQ(held(*a), 0u);
  ASSERT_TRUE(a->settle());

  // Ten files first, then (once the service has seen them go, well within
  // the pause that ends a run) the rest with the folder: each step alone is
  // below the folder's limit.
  Tree step = moved;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "moved/f" + std::to_string(i) + ".txt";
    ASSERT_FALSE(files::removeFile(a->path(name)));
    step.erase(name);
  }
  ASSERT_TRUE(waitFor([&] { return remoteTree() == step; }, 60000));
  ASSERT_FALSE(files::removeTree(a->path("moved")));
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -123 -"); }))
      << "a top-level folder deleted in two steps went through";
  ASSERT_TRUE(waitFor([&] { return held(*a) >= 20u; }));
  EXPECT_EQ(remoteTree().count("moved"), 1u) << "the folder is still on the service";

  const Tree after{{"keep.txt", fileEntry("keep")}};
  confirmUntil(*a, after);
}

// Renamed and then deleted at once (as tools that clear a folder through a
// temporary name do): the content is gone all the same, and it is held.
TEST_F(EngineHoldTest, ATopLevelFolderRenamedAndDeletedAtOnceIsHeld) {
  const FolderLimitOnly limits;
  auto a = computer();
  Tree synced = fill(*a);
  a->write("extra.txt", "extra");
  synced["extra.txt"] = fileEntry("extra");
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));

  // The deletion first makes the engine gather what follows into one batch,
  // so the rename is not weighed before the deletion behind it is seen.
  ASSERT_FALSE(files::removeFile(a->path("extra.txt")));
  ASSERT_FALSE(files::rename(a->path("many"), a->path("doomed")));
  ASSERT_FALSE(files::removeTree(a->path("doomed")));
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -123 -"); }))
      << "a folder renamed and deleted went through";
  EXPECT_EQ(held(*a), 31u);
  EXPECT_EQ(remoteTree(), synced) << "nothing deleted on the service";

  const Tree after{{"keep.txt", fileEntry("keep")}};
  confirmUntil(*a, after);
}

// Renamed while the engine was not running, the folder is found by the
// first scan under its new name, every file as synced: no deletion. Renamed
// with one file rewritten meanwhile, the service's copy of the old version
// would go with it, and the folder is held.
TEST_F(EngineHoldTest, AFolderRenamedWhileTheEngineWasStoppedIsNoDeletionUnlessAFileChanged) {
  const FolderLimitOnly limits;
  auto a = computer();
  const Tree synced = fill(*a);
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));

  a->shutdown();
  ASSERT_FALSE(files::rename(a->path("many"), a->path("Moved")));
  a->sink().clear();
  ASSERT_EQ(a->start(), 200);
  const Tree moved = renamed(synced, "many", "Moved");
  EXPECT_TRUE(waitFor([&] { return remoteTree() == moved; }, 60000))
      << ::testing::PrintToString(remoteTree());
  ASSERT_TRUE(a->settle());
  EXPECT_FALSE(a->sink().has("result -123 -")) << "a rename found by a scan was held";

  a->shutdown();
  ASSERT_FALSE(files::rename(a->path("Moved"), a->path("again")));
  a->write("again/f7.txt", "file 7, rewritten");
  a->sink().clear();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -123 -"); }))
      << "a folder renamed with a file rewritten went through";
  EXPECT_EQ(held(*a), 30u);
  EXPECT_EQ(remoteTree().count("Moved/f7.txt"), 1u) << "the old version left the service";
  Tree again = renamed(moved, "Moved", "again");
  again["again/f7.txt"] = fileEntry("file 7, rewritten");
  confirmUntil(*a, again);

  // Moved into a folder made at the same time.
  a->shutdown();
  ASSERT_FALSE(files::createDirectory(a->path("shelf")));
  ASSERT_FALSE(files::rename(a->path("again"), a->path("shelf/box")));
  a->sink().clear();
  ASSERT_EQ(a->start(), 200);
  Tree shelved = renamed(again, "again", "shelf/box");
  shelved["shelf"] = "D";
  EXPECT_TRUE(waitFor([&] { return remoteTree() == shelved; }, 60000))
      << ::testing::PrintToString(remoteTree());
  ASSERT_TRUE(a->settle());
  EXPECT_FALSE(a->sink().has("result -123 -")) << "a move found by a scan was held";
}

// A top-level folder above the limit renamed on another computer: B's pass
// finds the old name gone and the content under the new one, and the old
// name is no deletion. Renamed with one file rewritten on the way, the old
// version of that file would leave B for good, and the folder is held.
TEST_F(EngineHoldTest, ARemoteRenameOfALargeFolderIsNoDeletionUnlessContentLeavesWithIt) {
  const FolderLimitOnly limits;
  auto a = computer();
  auto b = computer();
  const Tree synced = fill(*a);
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == synced; }, 60000));
  ASSERT_TRUE(b->settle());

  // B is stopped meanwhile, so that one pass of B's finds both sides.
  b->engine()->stopSync(false);
  ASSERT_FALSE(files::rename(a->path("many"), a->path("moved")));
  const Tree moved = renamed(synced, "many", "moved");
  ASSERT_TRUE(waitFor([&] { return remoteTree() == moved; }, 60000));
  b->sink().clear();
  ASSERT_EQ(b->start(), 200);
  EXPECT_TRUE(waitFor([&] { return b->tree() == moved; }, 60000))
      << ::testing::PrintToString(b->tree());
  ASSERT_TRUE(b->settle());
  EXPECT_FALSE(b->sink().has("result -123 -")) << "a remote rename was held as a deletion";
  EXPECT_EQ(held(*b), 0u);

  b->engine()->stopSync(false);
  ASSERT_FALSE(files::rename(a->path("moved"), a->path("again")));
  a->write("again/f0.txt", "file 0, rewritten");
  Tree again = renamed(moved, "moved", "again");
  again["again/f0.txt"] = fileEntry("file 0, rewritten");
  ASSERT_TRUE(waitFor([&] { return remoteTree() == again; }, 60000));
  b->sink().clear();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->sink().has("result -123 -"); }))
      << "the only copy of a version left with the folder";
  EXPECT_EQ(held(*b), 30u);
  EXPECT_TRUE(waitFor([&] { return b->exists("again/f0.txt") && b->exists("moved/f0.txt"); }));
  EXPECT_EQ(b->read("moved/f0.txt"), "file 0");

  ASSERT_EQ(varnelo_confirm_deletions2(b->engine()), 200);
  EXPECT_TRUE(waitFor([&] { return b->tree() == again; }, 60000));
}

TEST_F(EngineHoldTest, ARemoteDeleteOfMostFilesKeepsTheLocalCopiesUntilConfirmed) {
  auto a = computer();
  auto b = computer();
  const Tree synced = fill(*a);
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == synced; }, 60000));
  ASSERT_TRUE(a->settle());

  // B deletes them in small steps, each below the limit on B's side and far
  // enough apart not to count together there; A sees them all in one remote
  // pass.
  a->engine()->stopSync(false);
  Tree step = synced;
  for (int i = 0; i < 30; ++i) {
    const std::string name = "many/f" + std::to_string(i) + ".txt";
    ASSERT_FALSE(files::removeFile(b->path(name)));
    step.erase(name);
    if (i % 10 == 9) {
      ASSERT_TRUE(waitFor([&] { return remoteTree() == step; }, 60000));
      std::this_thread::sleep_for(kStepsApart);
    }
  }
  const Tree remaining{{"keep.txt", fileEntry("keep")}, {"many", "D"}};
  ASSERT_EQ(remoteTree(), remaining);
  a->sink().clear();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -123 -"); }));
  EXPECT_EQ(a->tree(), synced) << "nothing deleted locally";
  EXPECT_EQ(held(*a), 30u);

  ASSERT_EQ(varnelo_confirm_deletions2(a->engine()), 200);
  EXPECT_TRUE(waitFor([&] { return a->tree() == remaining; }, 60000));
  EXPECT_EQ(remoteTree(), remaining);
}

// A case twin of the synced folder, left out so far, is deleted: the journal
// keeps the name folded, so the twin's path names the synced folder's row,
// but the synced folder is still there under its own spelling. Nothing is
// held, and nothing is deleted on the service.
TEST_F(EngineHoldTest, DeletingACaseTwinOfASyncedFolderIsNoDeletionOfIt) {
  auto a = computer();
  const Tree synced = fill(*a);
  ASSERT_NO_FATAL_FAILURE(startSynced(*a, synced));
  a->write("MANY/newcomer.txt", "left out");
  ASSERT_TRUE(waitFor([&] { return a->latestResult("MANY") == "-113"; }));
  ASSERT_TRUE(a->settle());

  ASSERT_FALSE(files::removeTree(a->path("MANY")));
  EXPECT_TRUE(a->settle());
  EXPECT_FALSE(a->sink().has("result -123 -")) << "the twin's removal was held as a deletion";
  EXPECT_EQ(held(*a), 0u);
  EXPECT_EQ(remoteTree(), synced);
  EXPECT_EQ(a->tree(), synced);
}

}  // namespace
}  // namespace varnelo::e2e
