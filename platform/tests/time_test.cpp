#include "platform/time.h"

#include <gtest/gtest.h>

TEST(Time, UnixAndFileTimeConvertBothWays) {
  EXPECT_EQ(platform::fileTimeFromUnix(0, 0), platform::kUnixEpochFileTime);
  const platform::FileTime ft = platform::fileTimeFromUnix(1280844309, 123456700);
  int64_t s, ns;
  platform::fileTimeToUnix(ft, s, ns);
  EXPECT_EQ(s, 1280844309);
  EXPECT_EQ(ns, 123456700);
  platform::fileTimeToUnix(5, s, ns);  // before 1970 clamps
  EXPECT_EQ(s, 0);
}

TEST(Time, StampHasFixedShape) {
  EXPECT_EQ(platform::formatTimeStamp({2010, 8, 3, 14, 5, 9}), "2010-08-03 14:05:09");
}
