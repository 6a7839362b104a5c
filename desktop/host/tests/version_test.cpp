#include <gtest/gtest.h>

#include "Version.h"

namespace varnelo::host {
namespace {

using Numbers = std::vector<uint32_t>;

TEST(VersionTest, ParseSkipsLettersAroundTheDigitsOfEachComponent) {
  EXPECT_EQ(parse_version("1.2b.3"), (Numbers{1, 2, 3}));
  EXPECT_EQ(parse_version("v2.0"), (Numbers{2, 0}));
  EXPECT_EQ(parse_version("1.2.3.4.5"), (Numbers{1, 2, 3, 4}));
  EXPECT_EQ(parse_version("1.x.3"), (Numbers{1}));  // a component without a digit ends it
  EXPECT_EQ(parse_version("1.2."), (Numbers{1, 2}));
  EXPECT_EQ(parse_version(""), Numbers{});
  EXPECT_EQ(parse_version("99999999999.1"), (Numbers{4294967295u, 1}));
}

TEST(VersionTest, CompareGivesThePositionOfTheFirstDifferenceWithItsSign) {
  EXPECT_EQ(compare_versions("2.0.0", "1.2.3"), 1);
  EXPECT_EQ(compare_versions("1.3.0", "1.2.3"), 2);
  EXPECT_EQ(compare_versions("1.2.4", "1.2.3"), 3);
  EXPECT_EQ(compare_versions("1.2.3.9", "1.2.3.1"), 4);
  EXPECT_EQ(compare_versions("1.2.3", "2.0.0"), -1);
  EXPECT_EQ(compare_versions("1.2.3", "1.10.0"), -2);  // numbers, not texts
  EXPECT_EQ(compare_versions("1.2.3", "1.2.4"), -3);
  EXPECT_EQ(compare_versions("1.2.3", "1.2.3"), 0);
  EXPECT_EQ(compare_versions("1.2b.3", "1.2.3"), 0);
  EXPECT_EQ(compare_versions("v1.2.3", "1.2.3"), 0);
}

TEST(VersionTest, DifferentComponentCountsNeverCompare) {
  EXPECT_EQ(compare_versions("1.2", "1.2.0"), 0);
  EXPECT_EQ(compare_versions("2.0", "1.0.0"), 0);
  EXPECT_EQ(compare_versions("1.2.3.4.9", "1.2.3.4.1"), 0);  // only four count
  EXPECT_EQ(compare_versions("", "1"), 0);
}

}  // namespace
}  // namespace varnelo::host
