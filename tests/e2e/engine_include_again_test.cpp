// A folder excluded and then included again while the engine runs: what
// its local copy holds that the service does not (written there meanwhile,
// or kept there while another computer deleted it on the service) reaches
// the service at once, not at the next periodic scan, and what the service
// holds there comes down.
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineIncludeAgainTest : public EngineTest {
 protected:
  bool remoteIs(const Tree& want, int timeoutMs = 30000) {
    return waitFor([&] { return remoteTree() == want; }, timeoutMs);
  }
};

TEST_F(EngineIncludeAgainTest, WhatWasWrittenWhileExcludedIsSentOnceIncludedAgain) {
  auto a = computer();
  a->write("D/a.txt", "a");
  a->write("D/kept.txt", "kept");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(
      remoteIs({{"D", "D"}, {"D/a.txt", fileEntry("a")}, {"D/kept.txt", fileEntry("kept")}}));
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == a->tree(); }));

  ASSERT_EQ(a->exclude({"home/D"}), 200);
  a->write("D/meanwhile.txt", "written while excluded");
  b->write("D/elsewhere.txt", "from the other computer");
  ASSERT_FALSE(platform::files::removeFile(b->path("D/kept.txt")));
  ASSERT_TRUE(remoteIs({{"D", "D"},
                        {"D/a.txt", fileEntry("a")},
                        {"D/elsewhere.txt", fileEntry("from the other computer")}}));
  ASSERT_TRUE(a->settle());
  EXPECT_EQ(remoteTree().count("D/meanwhile.txt"), 0u);
  // Started again while the folder is excluded: the start-up scan leaves it.
  a->shutdown();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(a->settle());
  EXPECT_FALSE(a->exists("D/elsewhere.txt"));

  ASSERT_EQ(a->exclude({}), 200);
  const Tree want{{"D", "D"},
                  {"D/a.txt", fileEntry("a")},
                  {"D/elsewhere.txt", fileEntry("from the other computer")},
                  {"D/kept.txt", fileEntry("kept")},
                  {"D/meanwhile.txt", fileEntry("written while excluded")}};
  // Well inside the periodic scan's interval: the inclusion itself scans.
  EXPECT_TRUE(remoteIs(want, 20000));
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, want));
}

}  // namespace
}  // namespace varnelo::e2e
