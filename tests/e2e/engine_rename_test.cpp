// A renamed folder of large files moves no chunk bytes: the computer that
// renamed it sends only metadata (the service holds every chunk), and the
// other one finds every chunk in its own old copy (the chunk index), since
// a remote pass removes local files only after its downloads.
#include <random>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineRenameTest : public EngineTest {};

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

TEST_F(EngineRenameTest, ARenamedFolderOfLargeFilesArrivesWithoutDataRequests) {
  auto a = computer();
  auto b = computer();
  // Two chunks each (4 MiB chunks), all different.
  for (unsigned i = 0; i < 3; ++i) {
    a->write("big/f" + std::to_string(i) + ".bin", randomBytes((5u << 20) + i, 40 + i));
  }
  const Tree before = a->tree();
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == before && remoteTree() == before; }, 60000));
  ASSERT_TRUE(a->settle());
  ASSERT_TRUE(b->settle());

  ASSERT_TRUE(service().resetCounters());
  ASSERT_FALSE(platform::files::rename(a->path("big"), a->path("big-moved")));
  const Tree after = a->tree();
  ASSERT_NE(after, before);
  EXPECT_TRUE(waitFor([&] { return remoteTree() == after && b->tree() == after; }, 60000));
  ASSERT_TRUE(b->settle());

  Json::Value counters;
  ASSERT_TRUE(service().counters(&counters));
  const Json::Value& endpoints = counters["endpoints"];
  EXPECT_EQ(endpoints["/chunk"]["bytesIn"].asUInt64(), 0u) << counters.toStyledString();
  EXPECT_EQ(endpoints["/2/put"]["bytesIn"].asUInt64(), 0u) << counters.toStyledString();
  EXPECT_EQ(endpoints["/2/put_batch"]["bytesIn"].asUInt64(), 0u) << counters.toStyledString();
  EXPECT_EQ(endpoints["/data"]["requests"].asUInt64(), 0u) << counters.toStyledString();
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(b->read("big-moved/f" + std::to_string(i) + ".bin"),
              randomBytes((5u << 20) + i, 40 + i));
  }
}

// A folder made inside another one right before that one is renamed (an
// archive unpacked and its folder renamed at once): files written into it
// afterwards still go up, long before a periodic scan would find them.
TEST_F(EngineRenameTest, AFolderMadeJustBeforeItsParentIsRenamedStillSendsItsFiles) {
  auto a = computer();
  a->write("unpacked/keep.txt", "here first");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree() == a->tree(); }));
  ASSERT_TRUE(a->settle());

  for (int i = 0; i < 3; ++i) {
    const std::string from = i == 0 ? "unpacked" : "named" + std::to_string(i - 1);
    const std::string to = "named" + std::to_string(i);
    const std::string inner = "/inner" + std::to_string(i);
    ASSERT_FALSE(platform::files::createDirectories(a->path(from + inner + "/deeper")));
    ASSERT_FALSE(platform::files::rename(a->path(from), a->path(to)));
    ASSERT_TRUE(waitFor([&] { return remoteTree().count(to + inner + "/deeper") == 1; }))
        << ::testing::PrintToString(remoteTree());
    a->write(to + inner + "/later.txt", "written later");
    a->write(to + inner + "/deeper/later.txt", "written later, deeper");
    EXPECT_TRUE(waitFor([&] { return remoteTree() == a->tree(); }))
        << ::testing::PrintToString(remoteTree());
  }
}

}  // namespace
}  // namespace varnelo::e2e
