// Local names the service cannot hold apart or the other side would refuse:
// a newcomer that differs from a synced name only in letter case, and a
// name holding "\". Neither is uploaded, and neither ever turns synced
// content into deletions, on this computer or on the service.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

class EngineNamesTest : public EngineTest {
 protected:
  bool remoteIs(const Tree& want) {
    return waitFor([&] { return remoteTree() == want; }, 30000);
  }
  // Waits for the refusal of `rel`, then for two quiet passes, and checks
  // that the service still holds `want`.
  ::testing::AssertionResult refusedAndUnchanged(EngineComputer& pc, const std::string& rel,
                                                 const Tree& want) {
    if (!waitFor([&] { return pc.sink().has("result -113 " + pc.path(rel)); }))
      return ::testing::AssertionFailure() << rel << " was not reported as unsupported";
    if (!pc.settle() || !pc.settle()) return ::testing::AssertionFailure() << "never settled";
    const Tree remote = remoteTree();
    if (remote == want) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "remote:";
    for (const auto& [path, what] : remote) failure << "\n  " << path << " " << what;
    return failure;
  }
};

TEST_F(EngineNamesTest, ANewFileBesideASyncedOneOfAnotherCaseIsRefused) {
  auto a = computer();
  auto b = computer();
  a->write("report.txt", "the synced report");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  const Tree synced{{"report.txt", fileEntry("the synced report")}};
  ASSERT_TRUE(remoteIs(synced));
  ASSERT_TRUE(waitFor([&] { return b->tree() == synced; }));

  a->write("Report.txt", "a different report");
  EXPECT_TRUE(refusedAndUnchanged(*a, "Report.txt", synced));
  // An edit of the synced twin still goes up; the newcomer still does not.
  a->write("report.txt", "the synced report, edited");
  const Tree edited{{"report.txt", fileEntry("the synced report, edited")}};
  EXPECT_TRUE(remoteIs(edited));
  EXPECT_TRUE(waitFor([&] { return b->tree() == edited; }));
  EXPECT_EQ(a->read("Report.txt"), "a different report");
  EXPECT_EQ(a->latestResult("Report.txt"), "-113");  // still left out, and shown so
  // A restart scans both again with the same outcome.
  a->engine()->stopSync(false);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(a->settle());
  EXPECT_EQ(remoteTree(), edited);
  EXPECT_EQ(a->read("report.txt"), "the synced report, edited");
  EXPECT_EQ(a->latestResult("Report.txt"), "-113");
}

TEST_F(EngineNamesTest, ANewFolderBesideASyncedOneOfAnotherCaseDeletesNothing) {
  auto a = computer();
  auto b = computer();
  a->write("docs/a.txt", "first");
  a->write("docs/b.txt", "second");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  const Tree synced{
      {"docs", "D"}, {"docs/a.txt", fileEntry("first")}, {"docs/b.txt", fileEntry("second")}};
  ASSERT_TRUE(remoteIs(synced));
  ASSERT_TRUE(waitFor([&] { return b->tree() == synced; }));

  a->write("Docs/x.txt", "in the newcomer");
  EXPECT_TRUE(refusedAndUnchanged(*a, "Docs/x.txt", synced));
  a->engine()->stopSync(false);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(a->settle());
  EXPECT_EQ(remoteTree(), synced);
  EXPECT_TRUE(b->settle());
  EXPECT_EQ(b->tree(), synced);
  EXPECT_EQ(a->read("docs/a.txt"), "first");
  EXPECT_EQ(a->read("Docs/x.txt"), "in the newcomer");
}

TEST_F(EngineNamesTest, ALocalNameHoldingABackslashIsRefusedAndKept) {
  auto a = computer();
  a->write("plain.txt", "goes up");
  a->write("back\\slash.txt", "stays here");
  a->write("folder\\name/inside.txt", "stays too");
  ASSERT_EQ(a->start(), 200);
  EXPECT_TRUE(refusedAndUnchanged(*a, "back\\slash.txt", {{"plain.txt", fileEntry("goes up")}}));
  EXPECT_TRUE(a->sink().has("result -113 " + a->path("folder\\name")));
  EXPECT_EQ(a->read("back\\slash.txt"), "stays here");
  EXPECT_EQ(a->read("folder\\name/inside.txt"), "stays too");
}

}  // namespace
}  // namespace varnelo::e2e
