// The rule that decides when a soak computer has caught up: it must not let
// a merged or overwritten case twin pass, and must not fail a case-only
// rename or a twin the engine reported unsupported.
#include <gtest/gtest.h>

#include "SoakTree.h"

namespace varnelo::soak {
namespace {

const std::string kA = fileEntry("a"), kB = fileEntry("b");

TEST(SoakTree, ExactTreesAgreeAndAnyDifferenceIsNamed) {
  const Tree remote{{"d", "D"}, {"d/x.txt", kA}};
  EXPECT_TRUE(compareWithRemote(remote, remote, {}).empty());
  const auto problems = compareWithRemote({{"d", "D"}, {"d/x.txt", kB}, {"y", kA}}, remote, {});
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("d/x.txt"), std::string::npos);
  EXPECT_NE(problems[1].find("y: only local"), std::string::npos);
  EXPECT_EQ(compareWithRemote({{"d", "D"}}, remote, {}).size(), 1u);
}

TEST(SoakTree, ACaseOnlyRenameStandsForTheRemoteName) {
  const Tree remote{{"docs", "D"}, {"docs/Report.txt", kA}};
  EXPECT_TRUE(compareWithRemote({{"DOCS", "D"}, {"DOCS/report.TXT", kA}}, remote, {}).empty());
}

TEST(SoakTree, ATwinNeverStandsInForTheNameItShadows) {
  // The newcomer's file was merged into the synced folder on the service.
  const Tree remote{{"photo", "D"}, {"photo/new.bin", kA}};
  const Tree local{{"photo", "D"}, {"Photo", "D"}, {"Photo/new.bin", kA}};
  EXPECT_FALSE(compareWithRemote(local, remote, {}).empty());
  // The newcomer's content replaced the synced file's on the service.
  EXPECT_FALSE(compareWithRemote({{"a.txt", kA}, {"A.txt", kB}}, {{"a.txt", kB}}, {}).empty());
  // A renamed file keeps standing in beside a newcomer twin the engine refused.
  EXPECT_TRUE(
      compareWithRemote({{"A.txt", kA}, {"a.TXT", kB}}, {{"a.txt", kA}}, {"a.TXT"}).empty());
  // A case-only rename, then a newcomer under the service's spelling, which
  // the engine refused: the renamed file still stands in.
  EXPECT_TRUE(
      compareWithRemote({{"A.txt", kA}, {"a.txt", kB}}, {{"a.txt", kA}}, {"a.txt"}).empty());
  EXPECT_FALSE(compareWithRemote({{"A.txt", kA}, {"a.txt", kB}}, {{"a.txt", kA}}, {}).empty());
  // Two variants and no exact name: neither may stand in.
  EXPECT_FALSE(compareWithRemote({{"A.txt", kA}, {"a.TXT", kA}}, {{"a.txt", kA}}, {}).empty());
}

TEST(SoakTree, OnlyWhatTheEngineReportedUnsupportedMayDiffer) {
  const Tree remote{{"photo", "D"}, {"photo/x", kA}};
  const Tree local{{"photo", "D"}, {"photo/x", kA}, {"Photo", "D"}, {"Photo/y", kB}};
  EXPECT_EQ(compareWithRemote(local, remote, {}).size(), 2u);
  EXPECT_TRUE(compareWithRemote(local, remote, {"Photo"}).empty());
  EXPECT_TRUE(isUnsupported("Photo/y/z", {"Photo"}));
  // Refused below a folder this computer renamed in case only: the engine
  // names the path as it is spelled here.
  const Tree deep{{"a", "D"}, {"a/Deep", "D"}, {"a/Deep/long", "D"}, {"a/Deep/long/x", kA}};
  const Tree here{{"a", "D"}, {"a/dEEP", "D"}};
  EXPECT_EQ(compareWithRemote(here, deep, {}).size(), 2u);
  EXPECT_TRUE(compareWithRemote(here, deep, {"a/dEEP/long"}).empty());
  EXPECT_FALSE(isUnsupported("Photos/y", {"Photo"}));
}

TEST(SoakTree, ConflictedCopiesNameTheirOriginal) {
  EXPECT_EQ(nameBeforeConflict("report (Conflicted copy 2012-05-03_14-22-01).txt"), "report.txt");
  EXPECT_EQ(nameBeforeConflict("a.tar (Conflicted copy 2012-05-03_14-22-01 2).gz"), "a.tar.gz");
  EXPECT_EQ(nameBeforeConflict("Notes (Conflicted copy 2012-05-03_14-22-01)"), "Notes");
  EXPECT_EQ(nameBeforeConflict("say \"hi\" (1).txt"), "say \"hi\" (1).txt");
}

}  // namespace
}  // namespace varnelo::soak
