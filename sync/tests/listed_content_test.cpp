// What a pass holds of listed content never passes its allowance, and every
// byte is given back however the content ends: released, replaced, moved
// away or destroyed.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ListedContent.h"

namespace varnelo::downloader {
namespace {

std::vector<uint8_t> bytes(size_t n) {
  return std::vector<uint8_t>(n, 0x5a);
}

TEST(ListedContentTest, TheAllowanceBoundsWhatIsHeldAndGetsEveryByteBack) {
  ListedAllowance allowance(100);
  ListedContent a = ListedContent::take(allowance, bytes(60));
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a.size(), 60u);
  EXPECT_EQ(a.data()[59], 0x5a);
  // Over what is left: not held at all (the file is fetched on its own).
  ListedContent b = ListedContent::take(allowance, bytes(41));
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(allowance.left(), 40u);
  ListedContent c = ListedContent::take(allowance, bytes(40));
  EXPECT_FALSE(c.empty());
  EXPECT_EQ(allowance.left(), 0u);
  EXPECT_TRUE(ListedContent::take(allowance, bytes(0)).empty()) << "nothing to hold";

  // Moved: held once, by its new owner.
  ListedContent moved = std::move(a);
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(allowance.left(), 0u);
  // Replaced: the old content goes back.
  moved = std::move(c);
  EXPECT_EQ(allowance.left(), 60u);
  moved.release();
  EXPECT_TRUE(moved.empty());
  moved.release();  // twice is harmless
  EXPECT_EQ(allowance.left(), 100u);
  {
    ListedContent scoped = ListedContent::take(allowance, bytes(100));
    EXPECT_EQ(allowance.left(), 0u);
  }
  EXPECT_EQ(allowance.left(), 100u);
}

}  // namespace
}  // namespace varnelo::downloader
