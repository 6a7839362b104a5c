#include "platform/uuid.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

TEST(Uuid, Version4ShapeAndUnique) {
  const std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string u = platform::newUuid();
    EXPECT_TRUE(std::regex_match(u, shape)) << u;
    seen.insert(u);
  }
  EXPECT_EQ(seen.size(), 100u);
}
