// The big-delete guard's rule and its release.
#include <gtest/gtest.h>

#include "DeletionHold.h"

namespace varnelo::sync {
namespace {

using Side = DeletionHold::Side;

std::vector<DeletionHold::Candidate> files(int n, const std::string& folder = "home/d") {
  std::vector<DeletionHold::Candidate> out;
  for (int i = 0; i < n; ++i) out.push_back({folder + "/f" + std::to_string(i), 1, false});
  return out;
}

TEST(DeletionHold, HoldsMoreThanTheShareAndTheCountButNotEitherAlone) {
  DeletionHold hold(DeletionLimits{});
  auto few = files(20);  // 20 of 20: the whole tree, but not more than 20 files
  EXPECT_FALSE(hold.decide(Side::Local, few, 20));
  auto share = files(21);  // 21 of 100: more than 20, not more than 30 %
  EXPECT_FALSE(hold.decide(Side::Local, share, 100));
  auto both = files(31);  // 31 of 100
  EXPECT_TRUE(hold.decide(Side::Local, both, 100));
  EXPECT_EQ(hold.heldFiles(), 31u);
  // A whole top-level folder of more than 1,000 files, whatever the share.
  std::vector<DeletionHold::Candidate> folder{{"home/photos", 1001, true}};
  EXPECT_TRUE(hold.decide(Side::Remote, folder, 1000000));
  std::vector<DeletionHold::Candidate> deep{{"home/a/photos", 1001, false}};
  EXPECT_FALSE(hold.decide(Side::Remote, deep, 1000000));
  EXPECT_EQ(hold.heldEntries(), 32u);
  hold.restart(Side::Remote);
  EXPECT_EQ(hold.heldFiles(), 31u);
}

TEST(DeletionHold, AConfirmationReleasesWhatWasHeldAndNothingFoundLater) {
  DeletionHold hold(DeletionLimits{});
  auto batch = files(40);
  ASSERT_TRUE(hold.decide(Side::Local, batch, 50));
  hold.confirm();
  EXPECT_EQ(hold.heldFiles(), 0u);
  // The same deletions found again (with new ones) pass; the new ones alone
  // are weighed.
  auto again = files(40);
  auto later = files(25, "home/e");
  again.insert(again.end(), later.begin(), later.end());
  EXPECT_TRUE(hold.decide(Side::Local, again, 50));
  EXPECT_EQ(again.size(), 25u) << "the released ones left the batch";
  EXPECT_EQ(hold.heldFiles(), 25u);
  // Restored locally: no longer held.
  hold.forget("home/e/f0");
  EXPECT_EQ(hold.heldFiles(), 24u);
}

}  // namespace
}  // namespace varnelo::sync
