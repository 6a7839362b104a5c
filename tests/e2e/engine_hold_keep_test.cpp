// Held deletions the user keeps: the engine names each held entry with the
// side it was deleted on, and "Keep" brings every one back, downloaded again
// where it was deleted here and uploaded again where it was deleted on the
// service, so that both computers and the service end where they started.
#include "ConfigInfo.h"
#include "engine_harness.h"
#include "varnelo/SyncState.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

struct HeldList {
  struct Entry {
    std::string path;
    int32_t direction = 0;
    uint64_t files = 0;
    bool operator==(const Entry&) const = default;
  };
  int32_t code = 0;
  std::vector<Entry> entries;
};

HeldList listHeld(EngineComputer& pc) {
  HeldList out;
  varnelo_held_list* list = nullptr;
  out.code = varnelo_list_held_deletions2(pc.engine(), &list);
  for (int32_t i = 0; i < varnelo_held_list_size(list); ++i) {
    varnelo_held_deletion d{};
    if (varnelo_held_list_at(list, i, &d) == 200)
      out.entries.push_back({d.path, d.direction, d.files});
  }
  varnelo_held_deletion past{};
  EXPECT_EQ(varnelo_held_list_at(list, varnelo_held_list_size(list), &past), list ? 404 : 499);
  varnelo_destroy_held_list(list);
  return out;
}

std::string dump(const HeldList& held) {
  std::string text = "code " + std::to_string(held.code);
  for (const auto& e : held.entries)
    text += "\n  " + e.path + " " + std::to_string(e.direction) + " " + std::to_string(e.files);
  return text;
}

class EngineHoldKeepTest : public EngineTest {
 protected:
  // Deletions on this computer are never held: it stands for the one where
  // the user deleted on purpose.
  static void neverHold(EngineComputer& pc) {
    SyncConfigInfo config;
    ASSERT_EQ(config.open(pc.dataFolder() + "config.db"), 200);
    ASSERT_EQ(config.set("deleteHoldPercent", "100"), 200);
    ASSERT_EQ(config.set("deleteHoldFolderFiles", "1000000"), 200);
  }
  // "Here/" and "There/" with 30 files each, and one file beside them.
  static Tree fill(EngineComputer& pc) {
    Tree tree{{"Here", "D"}, {"There", "D"}, {"keep.txt", fileEntry("keep")}};
    pc.write("keep.txt", "keep");
    for (const std::string folder : {"Here", "There"}) {
      for (int i = 0; i < 30; ++i) {
        const std::string name = folder + "/F" + std::to_string(i) + ".txt";
        pc.write(name, folder + " " + std::to_string(i));
        tree[name] = fileEntry(folder + " " + std::to_string(i));
      }
    }
    return tree;
  }
  static Tree without(const Tree& tree, const std::string& folder) {
    Tree out;
    for (const auto& [name, entry] : tree) {
      if (name != folder && name.rfind(folder + "/", 0) != 0) out[name] = entry;
    }
    return out;
  }
};

TEST_F(EngineHoldKeepTest, HeldEntriesAreListedBySideAndKeepBringsThemBackEverywhere) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(neverHold(*b));
  const Tree synced = fill(*a);
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(holdEverywhere({a.get(), b.get()}, synced, 60000, true));

  // While A is stopped, A's user deletes Here/ and B's user deletes There/
  // (which B sends at once): A's next start meets both at once.
  a->engine()->stopSync(false);
  ASSERT_FALSE(files::removeTree(a->path("Here")));
  ASSERT_FALSE(files::removeTree(b->path("There")));
  ASSERT_TRUE(waitFor([&] { return remoteTree() == without(synced, "There"); }, 60000));
  ASSERT_TRUE(b->settle());
  ASSERT_EQ(a->start(), 200);

  // Gone before the engine started, Here/ is known by the name the journal
  // keeps (folded); There/ by the local folder's own spelling.
  const HeldList want{
      200,
      {{"here", VARNELO_HELD_DELETED_HERE, 30}, {"There", VARNELO_HELD_DELETED_ON_SERVICE, 30}}};
  HeldList held;
  ASSERT_TRUE(waitFor([&] {
    held = listHeld(*a);
    return held.entries.size() >= 2;
  })) << dump(held);
  EXPECT_EQ(held.entries, want.entries) << dump(held);
  varnelo_sync_holds holds{};
  ASSERT_EQ(varnelo_get_sync_holds2(a->engine(), &holds), 200);
  EXPECT_EQ(holds.heldDeletions, 60u);
  EXPECT_TRUE(a->exists("There/F0.txt")) << "nothing deleted here";
  EXPECT_EQ(remoteTree().count("Here/F0.txt"), 1u) << "nothing deleted on the service";

  ASSERT_EQ(varnelo_restore_deletions2(a->engine()), 200);
  EXPECT_TRUE(listHeld(*a).entries.empty()) << "kept entries stay held";
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, synced, 60000, true));
  EXPECT_EQ(a->read("Here/F7.txt"), "Here 7");
  EXPECT_EQ(b->read("There/F7.txt"), "There 7");
  EXPECT_TRUE(a->settle());
  EXPECT_TRUE(listHeld(*a).entries.empty());
  ASSERT_EQ(varnelo_get_sync_holds2(a->engine(), &holds), 200);
  EXPECT_EQ(holds.heldDeletions, 0u);
}

// A held file that its user writes again before keeping it: the new content
// survives on both sides (under its name or as a conflicted copy beside it);
// the restore never puts the old version over it.
TEST_F(EngineHoldKeepTest, KeepingNeverOverwritesWhatWasWrittenAgainMeanwhile) {
  auto a = computer();
  const Tree synced = fill(*a);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(holdEverywhere({a.get()}, synced, 60000, true));

  a->engine()->stopSync(false);
  ASSERT_FALSE(files::removeTree(a->path("Here")));
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return listHeld(*a).entries.size() == 1; }));
  // Paused, so that the new file and the answer reach the engine together.
  ASSERT_EQ(a->engine()->pauseSync(), 200);
  a->write("Here/F3.txt", "written again");
  ASSERT_EQ(varnelo_restore_deletions2(a->engine()), 200);
  ASSERT_EQ(a->engine()->resumeSync(false), 200);

  const std::string rewritten = fileEntry("written again");
  auto holdsRewritten = [&](const Tree& tree) {
    for (const auto& [name, entry] : tree) {
      if (name.rfind("Here/F3", 0) == 0 && entry == rewritten) return true;
    }
    return false;
  };
  Tree local;
  EXPECT_TRUE(waitFor(
      [&] {
        local = a->tree();
        if (!holdsRewritten(local) || !holdsRewritten(remoteTree())) return false;
        for (const auto& [name, entry] : synced) {
          if (name != "Here/F3.txt" && (!local.count(name) || local.at(name) != entry))
            return false;
        }
        return true;
      },
      60000))
      << ::testing::PrintToString(local);
  EXPECT_TRUE(a->settle());
  EXPECT_TRUE(listHeld(*a).entries.empty());
}

}  // namespace
}  // namespace varnelo::e2e
