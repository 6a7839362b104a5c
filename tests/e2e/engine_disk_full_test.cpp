// A sync folder on a disk too small for what the service holds. What does
// not fit fails with a clear code, nothing of the user's is touched, the
// remote copies stay, and the failed downloads give their space back: a
// part file kept for a resume would hold the disk full for every other
// program until the next try. Once there is room, the retry completes them.
//
// The folder is a small tmpfs mounted by the test, which needs root;
// without it the test is skipped.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

class EngineDiskFullTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    setenv("VARNELO_RETRY_INTERVAL_MS", "500", 1);
    a_ = computer();
    b_ = computer();
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    if (!run("mount -t tmpfs -o size=2m tmpfs '" + b_->root() + "'") || !mounted())
      GTEST_SKIP() << "tmpfs could not be mounted";
    mounted_ = true;
  }
  void TearDown() override {
    if (b_) b_->shutdown();
    if (mounted_ && !run("umount '" + b_->root() + "'")) run("umount -l '" + b_->root() + "'");
    unsetenv("VARNELO_RETRY_INTERVAL_MS");
    EngineTest::TearDown();
  }

  static bool run(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
  }
  bool mounted() const {
    struct stat inside {
    }, above{};
    return ::stat(b_->root().c_str(), &inside) == 0 &&
           ::stat(files::parentPath(b_->root()).c_str(), &above) == 0 &&
           inside.st_dev != above.st_dev;
  }
  // Bytes the part files in the engine's hidden temporary folder hold.
  uint64_t partBytes() const {
    std::vector<files::DirEntry> entries;
    files::listDirectory(b_->path(".varnelo-temp"), entries);
    uint64_t bytes = 0;
    for (const auto& e : entries) bytes += e.info.size;
    return bytes;
  }

  std::unique_ptr<EngineComputer> a_, b_;
  bool mounted_ = false;
};

TEST_F(EngineDiskFullTest, WhatDoesNotFitFailsGivesItsSpaceBackAndArrivesOnceThereIsRoom) {
  // One file of one chunk, one of several, and one that fits.
  const std::string one(3 * 1024 * 1024, 'o'), several(9 * 1024 * 1024 + 5, 's');
  a_->write("one.bin", one);
  a_->write("several.bin", several);
  a_->write("small.txt", "fits");
  const Tree published{{"one.bin", fileEntry(one)},
                       {"several.bin", fileEntry(several)},
                       {"small.txt", fileEntry("fits")}};
  ASSERT_EQ(a_->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree() == published; }, 60000));
  ASSERT_TRUE(a_->settle());
  a_->shutdown();

  // Written in place: the harness's way (beside, then renamed) crosses
  // file systems here.
  ASSERT_FALSE(files::writeFile(b_->path("mine.txt"), "the user's own"));
  Tree both = published;
  both["mine.txt"] = fileEntry("the user's own");
  ASSERT_EQ(b_->start(), 200);
  ASSERT_TRUE(waitFor(
      [&] {
        return b_->exists("small.txt") && b_->latestResult("one.bin") == "-4" &&
               b_->latestResult("several.bin") == "-4" && remoteTree() == both;
      },
      60000))
      << "small.txt "
      << (b_->exists("small.txt") ? "arrived" : "missing: " + b_->latestResult("small.txt"))
      << ", remote tree " << (remoteTree() == both ? "as expected" : "differs")
      << ", one.bin: " << b_->latestResult("one.bin")
      << ", several.bin: " << b_->latestResult("several.bin")
      << "; a download that failed here must never delete the remote file";
  // Paused between tries (a try in flight ends as stopped), the failed
  // downloads hold no space.
  ASSERT_EQ(b_->engine()->pauseSync(), 200);
  EXPECT_TRUE(waitFor([&] { return partBytes() == 0; }, 10000))
      << "a failed download keeps the disk full";
  EXPECT_FALSE(b_->exists("one.bin"));
  EXPECT_FALSE(b_->exists("several.bin"));
  EXPECT_EQ(b_->read("mine.txt"), "the user's own");
  EXPECT_EQ(remoteTree(), both);

  ASSERT_TRUE(run("mount -o remount,size=32m tmpfs '" + b_->root() + "'"));
  ASSERT_EQ(b_->engine()->resumeSync(false), 200);
  EXPECT_TRUE(waitFor([&] { return b_->tree() == both; }, 60000));
  EXPECT_EQ(partBytes(), 0u);
  EXPECT_EQ(remoteTree(), both);
}

}  // namespace
}  // namespace varnelo::e2e
