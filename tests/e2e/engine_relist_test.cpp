// A remote pass records a folder as in step only when every entry in it was
// dealt with. What a pass could not finish (the service did not answer a
// question about one entry) keeps the folder out of step, so a later pass
// lists it again; an idle computer never keeps an old copy of what the
// service holds. And a folder known only because a file below it went up
// first still sends the rest of what it holds.
#include <algorithm>
#include <string>
#include <vector>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineRelistTest : public EngineTest {
 protected:
  // The codes of the results `pc` reported for exactly `path`, in order.
  static std::vector<int> results(EngineComputer& pc, const std::string& path) {
    std::vector<int> out;
    for (const std::string& line : pc.sink().lines()) {
      const size_t space = line.find(' ', 7);
      if (line.rfind("result ", 0) == 0 && space != std::string::npos &&
          line.compare(space + 1, std::string::npos, path) == 0)
        out.push_back(std::stoi(line.substr(7, space - 7)));
    }
    return out;
  }
};

TEST_F(EngineRelistTest, AFolderWhoseTwinsCouldNotBeToldApartIsListedAgain) {
  auto a = computer();
  auto b = computer();
  a->write("top/docs/x.txt", "v1");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["top/docs/x.txt"] == fileEntry("v1"); }));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->read("top/docs/x.txt") == "v1"; }));
  // A newcomer twin beside the synced folder: refused while the service answers.
  a->write("top/Docs/y.txt", "newcomer");
  ASSERT_TRUE(waitFor([&] { return a->sink().has("result -113 " + a->path("top/Docs")); }));
  ASSERT_TRUE(a->settle());

  // The service fails only the question which twin it holds ("Docs" comes
  // first in byte order); listings still answer. An edit from the other
  // computer puts "top" out of step, so A lists it while the fault lasts.
  ASSERT_TRUE(service().setFaults("/get@home/top/Docs:error=1"));
  a->sink().clear();
  b->write("top/docs/x.txt", "v2 from the other computer");
  ASSERT_TRUE(waitFor(
      [&] { return remoteTree()["top/docs/x.txt"] == fileEntry("v2 from the other computer"); }));
  ASSERT_TRUE(waitFor([&] { return !results(*a, a->path("top/docs")).empty(); }))
      << ::testing::PrintToString(a->sink().lines());
  EXPECT_FALSE(a->sink().has("result -113 " + a->path("top/docs")))
      << "a twin the service did not answer for is not unsupported";
  ASSERT_TRUE(service().setFaults(""));

  EXPECT_TRUE(waitFor([&] { return a->read("top/docs/x.txt") == "v2 from the other computer"; }))
      << ::testing::PrintToString(a->sink().lines());
  EXPECT_TRUE(a->settle());
  EXPECT_EQ(a->read("top/Docs/y.txt"), "newcomer");
  EXPECT_EQ(remoteTree().count("top/Docs/y.txt") + remoteTree().count("top/docs/y.txt"), 0u)
      << "the newcomer stays out";
}

TEST_F(EngineRelistTest, AFolderKnownOnlyThroughAFileBelowItStillSendsItsFiles) {
  auto a = computer();
  a->write("seed.txt", "first");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(a->settle());
  a->shutdown();
  const std::string staging = a->dataFolder() + "staging";
  ASSERT_FALSE(platform::files::createDirectories(staging + "/inner"));
  ASSERT_FALSE(platform::files::writeFile(staging + "/a.txt", "beside"));
  ASSERT_FALSE(platform::files::writeFile(staging + "/inner/b.txt", "edited soon"));
  ASSERT_FALSE(platform::files::writeFile(staging + "/inner/c.txt", "never touched"));
  ASSERT_FALSE(platform::files::rename(staging, a->path("moved")));
  // The folder cannot be made on the service, so it waits for a retry...
  ASSERT_TRUE(service().setFaults("/mkdir:error=1"));
  a->sink().clear();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] {
    const std::vector<int> codes = results(*a, a->path("moved"));
    return std::find_if(codes.begin(), codes.end(), [](int c) { return c != 200; }) != codes.end();
  })) << ::testing::PrintToString(a->sink().lines());
  // ...while an edit below it goes up at once, which makes the folders above
  // it on the service and in the journal.
  a->write("moved/inner/b.txt", "edited now");
  ASSERT_TRUE(
      waitFor([&] { return remoteTree()["moved/inner/b.txt"] == fileEntry("edited now"); }));
  ASSERT_TRUE(service().setFaults(""));

  const Tree expected{{"seed.txt", fileEntry("first")},
                      {"moved", "D"},
                      {"moved/a.txt", fileEntry("beside")},
                      {"moved/inner", "D"},
                      {"moved/inner/b.txt", fileEntry("edited now")},
                      {"moved/inner/c.txt", fileEntry("never touched")}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == expected; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(a->settle());
}

}  // namespace
}  // namespace varnelo::e2e
