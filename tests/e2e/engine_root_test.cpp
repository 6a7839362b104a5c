// The sync folder's identity: a folder that is unmounted, replaced by an
// empty one, loses its marker or is moved away during a download is never
// read as "everything was deleted" and never recreated by the engine; the
// engine holds everything, reports -122 (or -120), and goes on by itself
// when the folder is back. Only a full resynchronisation adopts the folder
// as it is, and it deletes nothing.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

class EngineRootTest : public EngineTest {
 protected:
  bool remoteIs(const Tree& want, int timeoutMs = 30000) {
    return waitFor([&] { return remoteTree() == want; }, timeoutMs);
  }
  static varnelo_sync_holds holds(EngineComputer& pc) {
    varnelo_sync_holds out{};
    varnelo_get_sync_holds2(pc.engine(), &out);
    return out;
  }
  // `a` uploads `big` while the service holds every chunk download for
  // seconds, so that the sync folder can change during one: true once `b`
  // has begun downloading it.
  bool downloadUnderWay(EngineComputer& a, EngineComputer& b, const std::string& big) {
    if (!service().setFaults("/data:delay=1,delayMs=3000")) return false;
    a.write("big.bin", big);
    if (a.start() != 200 || !remoteIs({{"big.bin", fileEntry(big)}})) return false;
    const std::string target = b.path("big.bin");
    return waitFor([&] { return b.sink().has("file " + target + " 2"); }, 60000);
  }
  static std::string bigContent(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + i / 997);
    return s;
  }
};

TEST_F(EngineRootTest, AnEmptyFolderInPlaceOfTheSyncedOneHoldsEverythingUntilItIsBack) {
  auto a = computer();
  a->write("docs/a.txt", "alpha");
  a->write("b.txt", "beta");
  ASSERT_EQ(a->start(), 200);
  const Tree synced{
      {"b.txt", fileEntry("beta")}, {"docs", "D"}, {"docs/a.txt", fileEntry("alpha")}};
  ASSERT_TRUE(remoteIs(synced));
  ASSERT_TRUE(a->settle());
  EXPECT_TRUE(files::isRegularFile(a->path(".varnelo-root"))) << "the first sync leaves a marker";

  // The disk is unmounted under the running engine: the empty mount point
  // (another inode) stands at the path.
  const std::string away = a->root() + ".away";
  ASSERT_FALSE(files::rename(a->root(), away));
  ASSERT_FALSE(files::createDirectory(a->root()));
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -122 " + a->root()); }));
  EXPECT_EQ(holds(*a).folderUnavailable, 1);
  EXPECT_FALSE(a->state().converged);

  // Another computer adds a file meanwhile: nothing reaches the empty folder,
  // nothing is deleted on the service.
  auto b = computer();
  b->write("from-b.txt", "b");
  ASSERT_EQ(b->start(), 200);
  Tree withB = synced;
  withB["from-b.txt"] = fileEntry("b");
  ASSERT_TRUE(remoteIs(withB));
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(remoteTree(), withB);
  EXPECT_TRUE(a->tree().empty());

  // Mounted again: the engine resumes by itself.
  ASSERT_FALSE(files::removeDirectory(a->root()));
  ASSERT_FALSE(files::rename(away, a->root()));
  EXPECT_TRUE(waitFor([&] { return a->tree() == withB; }, 60000));
  EXPECT_EQ(holds(*a).folderUnavailable, 0);
  EXPECT_TRUE(a->settle());
  EXPECT_EQ(remoteTree(), withB);
}

TEST_F(EngineRootTest, AMissingMarkerHoldsUntilTheFolderIsAdoptedWhichDeletesNothing) {
  auto a = computer();
  a->write("docs/a.txt", "alpha");
  a->write("b.txt", "beta");
  ASSERT_EQ(a->start(), 200);
  const Tree synced{
      {"b.txt", fileEntry("beta")}, {"docs", "D"}, {"docs/a.txt", fileEntry("alpha")}};
  ASSERT_TRUE(remoteIs(synced));
  ASSERT_TRUE(a->settle());
  a->engine()->stopSync(false);

  // Same folder (same inode), but emptied and without its marker.
  ASSERT_FALSE(files::removeTree(a->path("docs")));
  ASSERT_FALSE(files::removeFile(a->path("b.txt")));
  ASSERT_FALSE(files::removeFile(a->path(".varnelo-root")));
  a->sink().clear();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -122 " + a->root()); }));
  EXPECT_EQ(remoteTree(), synced);

  // The user adopts the folder as it is: a full comparison brings everything
  // back and deletes nothing.
  a->engine()->stopSync(false);
  ASSERT_EQ(a->start(3, /*resyncAll=*/true), 200);
  EXPECT_TRUE(waitFor([&] { return a->tree() == synced; }, 60000));
  EXPECT_TRUE(a->settle());
  EXPECT_EQ(remoteTree(), synced);
  EXPECT_TRUE(files::isRegularFile(a->path(".varnelo-root")));
}

TEST_F(EngineRootTest, ASyncFolderMovedAwayDuringADownloadIsNeverRecreated) {
  auto a = computer();
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  const std::string big = bigContent(200 * 1024);
  ASSERT_TRUE(downloadUnderWay(*a, *b, big));
  const std::string target = b->path("big.bin");

  const std::string away = b->root() + ".away";
  ASSERT_FALSE(files::rename(b->root(), away));
  ASSERT_TRUE(waitFor([&] { return b->sink().has("result -120 " + target); }, 60000));
  ASSERT_TRUE(service().setFaults(""));
  EXPECT_FALSE(files::exists(b->root())) << "the engine made the moved folder again";
  EXPECT_FALSE(files::exists(away + "/big.bin"));
  EXPECT_EQ(holds(*b).folderUnavailable, 1);

  // Moved back: the download completes.
  ASSERT_FALSE(files::rename(away, b->root()));
  EXPECT_TRUE(waitFor([&] { return b->read("big.bin") == big; }, 60000));
  EXPECT_EQ(remoteTree(), (Tree{{"big.bin", fileEntry(big)}}));
}

// Same folder, same inode, but its marker now names another folder (a
// backup restored over it, say) while a download is on its way: the file is
// not placed, and the folder is held until its own marker is back.
TEST_F(EngineRootTest, AMarkerChangedDuringADownloadKeepsTheFileOut) {
  auto a = computer();
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  std::string marker;
  ASSERT_FALSE(files::readFile(b->path(".varnelo-root"), marker));
  const std::string big = bigContent(200 * 1024);
  ASSERT_TRUE(downloadUnderWay(*a, *b, big));
  const std::string target = b->path("big.bin");

  ASSERT_FALSE(files::writeFile(b->path(".varnelo-root"), "another-folder\n"));
  ASSERT_TRUE(waitFor([&] { return b->sink().has("result -122 " + target); }, 60000));
  ASSERT_TRUE(service().setFaults(""));
  EXPECT_FALSE(files::exists(target)) << "placed into a folder that is not the synced one";
  EXPECT_EQ(holds(*b).folderUnavailable, 1);
  EXPECT_EQ(remoteTree(), (Tree{{"big.bin", fileEntry(big)}}));

  ASSERT_FALSE(files::writeFile(b->path(".varnelo-root"), marker));
  EXPECT_TRUE(waitFor([&] { return b->read("big.bin") == big; }, 60000));
  EXPECT_EQ(remoteTree(), (Tree{{"big.bin", fileEntry(big)}}));
}

}  // namespace
}  // namespace varnelo::e2e
