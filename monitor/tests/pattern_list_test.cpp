#include "PatternList.h"

#include <gtest/gtest.h>

using varnelo::monitor::PatternList;
using varnelo::monitor::wildcardMatch;

TEST(WildcardMatch, StarAndQuestionMarkFollowTheShellRulesButKeepCase) {
  EXPECT_TRUE(wildcardMatch("a/b.tmp", "*.tmp"));  // "*" runs across folders
  EXPECT_FALSE(wildcardMatch("a/b.tmpx", "*.tmp"));
  EXPECT_TRUE(wildcardMatch("Thumbs.db", "Thumbs.db"));
  EXPECT_FALSE(wildcardMatch("thumbs.db", "Thumbs.db"));
  EXPECT_FALSE(wildcardMatch("sub/Thumbs.db", "Thumbs.db"));
  EXPECT_TRUE(wildcardMatch("a/.git/config", "*/.*"));
  EXPECT_FALSE(wildcardMatch("a/b.c", "*/.*"));
  EXPECT_TRUE(wildcardMatch("~$report.docx", "~$*"));
  EXPECT_TRUE(wildcardMatch("aXbYbZc", "a*b*c"));  // needs backtracking
  EXPECT_FALSE(wildcardMatch("aXbYbZ", "a*b*c"));
  EXPECT_TRUE(wildcardMatch("", "*"));
  EXPECT_FALSE(wildcardMatch("", "?"));
  EXPECT_TRUE(wildcardMatch("", ""));
  EXPECT_FALSE(wildcardMatch("a", ""));
}

TEST(WildcardMatch, QuestionMarkTakesOneWholeCharacter) {
  EXPECT_TRUE(wildcardMatch("\xC3\xA9.txt", "?.txt"));  // é is two bytes, one character
  EXPECT_FALSE(wildcardMatch("\xC3\xA9.txt", "??.txt"));
  EXPECT_TRUE(wildcardMatch("x\xE2\x82\xAC", "*?"));
  EXPECT_TRUE(wildcardMatch("\xC3\xA9t\xC3\xA9", "*t?"));
}

TEST(PatternList, SplitsAtSeparatorsAndSkipsEmptyPieces) {
  EXPECT_TRUE(PatternList::parse("").empty());
  auto list = PatternList::parse(";*.tmp;;Desktop.ini;");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.patterns()[0], "*.tmp");
  EXPECT_EQ(list.patterns()[1], "Desktop.ini");
  // One pattern with a trailing separator is still that pattern.
  EXPECT_TRUE(PatternList::parse("*.tmp;").matchesAny("x.tmp"));
  EXPECT_TRUE(list.matchesAny("Desktop.ini"));
  EXPECT_FALSE(list.matchesAny("desktop.ini"));
}
