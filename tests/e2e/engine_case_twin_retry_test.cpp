// Which of two case twins is the synced one is asked of the service when the
// journal alone cannot tell (a folder row). When the service does not answer,
// the twins' paths wait and are tried again: they are never taken as
// unsupported for good, so a change under the synced twin still goes up once
// the service is back.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineCaseTwinRetryTest : public EngineTest {};

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

}  // namespace
}  // namespace varnelo::e2e
