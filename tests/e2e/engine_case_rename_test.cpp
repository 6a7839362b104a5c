// Renames that change nothing but letter case send nothing for names the
// service already has, but must not lose work still queued under the old
// spelling: a new file renamed in case before its upload, and a rename
// inside a folder whose case changed before the rename was sent, still reach
// the service. The sync thread is kept busy with a slow upload so that the
// events are queued before any of them is handled.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineCaseRenameTest : public EngineTest {
 protected:
  // Starts a slow upload and waits until it is in flight, so that what
  // happens next is only queued. The limit holds until allowFullSpeed. The
  // file is larger than a chunk (4 MiB): the sync thread sends it itself
  // (files of one chunk go up beside the sync thread's work).
  void busyWithASlowUpload(EngineComputer& pc) {
    setenv("CURL_UPLOAD_SPEEDLIMIT", "1024", 1);  // KiB/s per chunk: about 4 s for the file
    std::string slow((4u << 20) + (64u << 10), 's');
    slow.replace(4u << 20, 4, "tail");  // two different chunks
    pc.write("slow.bin", slow);
    ASSERT_TRUE(waitFor([&] { return pc.state().inFlight > 0; }));
  }
  void allowFullSpeed() { unsetenv("CURL_UPLOAD_SPEEDLIMIT"); }
  void TearDown() override {
    unsetenv("CURL_UPLOAD_SPEEDLIMIT");
    EngineTest::TearDown();
  }
  bool reaches(EngineComputer& pc, const Tree& expected) {
    return waitFor(
        [&] {
          Tree remote = remoteTree();
          remote.erase("slow.bin");
          return remote == expected && pc.state().converged;
        },
        60000);
  }
};

TEST_F(EngineCaseRenameTest, ANewFileRenamedInCaseBeforeItsUploadStillGoesUp) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  busyWithASlowUpload(*pc);
  pc->write("photo.jpeg", "new");
  ASSERT_TRUE(waitFor([&] { return pc->state().queued > 0; }));
  ASSERT_FALSE(platform::files::rename(pc->path("photo.jpeg"), pc->path("Photo.JPEG")));
  allowFullSpeed();
  EXPECT_TRUE(reaches(*pc, {{"Photo.JPEG", fileEntry("new")}}))
      << ::testing::PrintToString(remoteTree());
}

TEST_F(EngineCaseRenameTest, ARenameInsideAFolderRenamedInCaseStillGoesUp) {
  auto pc = computer();
  pc->write("docs/a.txt", "kept");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(reaches(*pc, {{"docs", "D"}, {"docs/a.txt", fileEntry("kept")}}));
  busyWithASlowUpload(*pc);
  ASSERT_FALSE(platform::files::rename(pc->path("docs/a.txt"), pc->path("docs/b.txt")));
  ASSERT_TRUE(waitFor([&] { return pc->state().queued >= 2; }));
  ASSERT_FALSE(platform::files::rename(pc->path("docs"), pc->path("Docs")));
  allowFullSpeed();
  // The folder keeps its name on the service; the file has its new one.
  EXPECT_TRUE(reaches(*pc, {{"docs", "D"}, {"docs/b.txt", fileEntry("kept")}}))
      << ::testing::PrintToString(remoteTree());
  EXPECT_EQ(pc->read("Docs/b.txt"), "kept");
}

}  // namespace
}  // namespace varnelo::e2e
