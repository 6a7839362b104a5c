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
  EXPECT_FALSE(hold.decide(Side::Local, few, 20, 0));
  auto share = files(21);  // 21 of 100: more than 20, not more than 30 %
  EXPECT_FALSE(hold.decide(Side::Local, share, 100, 10000));
  auto both = files(31);  // 31 of 100
  EXPECT_TRUE(hold.decide(Side::Local, both, 100, 20000));
  EXPECT_EQ(hold.heldFiles(), 31u);
  // A whole top-level folder of more than 1,000 files, whatever the share.
  std::vector<DeletionHold::Candidate> folder{{"home/photos", 1001, true}};
  EXPECT_TRUE(hold.decide(Side::Remote, folder, 1000000, 30000));
  std::vector<DeletionHold::Candidate> deep{{"home/a/photos", 1001, false}};
  EXPECT_FALSE(hold.decide(Side::Remote, deep, 1000000, 40000));
  EXPECT_EQ(hold.heldEntries(), 32u);
  hold.restart(Side::Remote);
  EXPECT_EQ(hold.heldFiles(), 1032u) << "shown until the pass has weighed its deletions";
  hold.settle(Side::Remote);
  EXPECT_EQ(hold.heldFiles(), 31u);
}

TEST(DeletionHold, AConfirmationReleasesWhatWasHeldAndNothingFoundLater) {
  DeletionHold hold(DeletionLimits{});
  auto batch = files(40);
  ASSERT_TRUE(hold.decide(Side::Local, batch, 50, 0));
  hold.confirm();
  EXPECT_EQ(hold.heldFiles(), 0u);
  // The same deletions found again (with new ones) pass; the new ones alone
  // are weighed.
  auto again = files(40);
  auto later = files(25, "home/e");
  again.insert(again.end(), later.begin(), later.end());
  EXPECT_TRUE(hold.decide(Side::Local, again, 50, 10000));
  EXPECT_EQ(again.size(), 25u) << "the released ones left the batch";
  EXPECT_EQ(hold.heldFiles(), 25u);
  // Restored locally: no longer held.
  hold.forget("home/e/f0");
  EXPECT_EQ(hold.heldFiles(), 24u);
}

TEST(DeletionHold, BatchesInQuickSuccessionAreWeighedAsOneRun) {
  DeletionHold hold(DeletionLimits{});
  constexpr uint64_t gap = DeletionHold::kRunGapMs;
  // 40 of 100 files, ten at a time: each step alone is below the limit,
  // together they are not. The journal loses what each step let through.
  auto first = files(10, "home/a");
  EXPECT_FALSE(hold.decide(Side::Local, first, 100, 1000));
  auto second = files(10, "home/b");
  EXPECT_FALSE(hold.decide(Side::Local, second, 90, 1000 + gap - 1));
  EXPECT_EQ(hold.runFiles(Side::Local, 1000 + gap), 20u);
  auto third = files(11, "home/c");  // 31 of the 100 the run started from
  EXPECT_TRUE(hold.decide(Side::Local, third, 80, 1000 + 2 * gap - 2));
  EXPECT_EQ(hold.heldFiles(), 11u);
  // Once the run held, the rest of it is held too, however small.
  EXPECT_TRUE(hold.runHolds(Side::Local, 1000 + 2 * gap - 1));
  auto straggler = files(1, "home/d");
  EXPECT_TRUE(hold.decide(Side::Local, straggler, 80, 1000 + 3 * gap - 3));
  EXPECT_EQ(hold.heldFiles(), 12u);
  // The other side has its own run.
  auto remote = files(1, "home/r");
  EXPECT_FALSE(hold.decide(Side::Remote, remote, 80, 1000 + 3 * gap - 3));

  // A pause ends the run: a new one starts from nothing.
  auto later = files(10, "home/e");
  EXPECT_FALSE(hold.decide(Side::Local, later, 80, 1000 + 4 * gap - 3));
  EXPECT_EQ(hold.runFiles(Side::Local, 1000 + 5 * gap), 0u);
  EXPECT_FALSE(hold.runHolds(Side::Local, 1000 + 4 * gap - 3));

  // A scan weighs afresh; so does a confirmation.
  auto again = files(5, "home/f");
  EXPECT_FALSE(hold.decide(Side::Local, again, 70, 1000 + 4 * gap));
  hold.restart(Side::Local);
  EXPECT_EQ(hold.runFiles(Side::Local, 1000 + 4 * gap), 0u);
  auto big = files(30, "home/g");
  ASSERT_TRUE(hold.decide(Side::Local, big, 70, 1000 + 4 * gap));
  hold.confirm();
  auto small = files(1, "home/h");
  EXPECT_FALSE(hold.decide(Side::Local, small, 70, 1000 + 4 * gap + 1));
}

TEST(DeletionHold, ATopLevelFolderCountsItsFilesThatEarlierBatchesOfTheRunLetThrough) {
  DeletionHold hold(DeletionLimits{});
  // `rm -r` of a folder of 1,500 files: its files first, the folder last.
  auto first = files(600, "home/photos");
  EXPECT_FALSE(hold.decide(Side::Local, first, 1000000, 1000));
  std::vector<DeletionHold::Candidate> rest{{"home/photos", 900, true}};
  EXPECT_TRUE(hold.decide(Side::Local, rest, 1000000, 1500));
  // Files of another folder do not add to it, nor does an earlier run.
  auto other = files(600, "home/music");
  EXPECT_FALSE(hold.decide(Side::Remote, other, 1000000, 1000));
  std::vector<DeletionHold::Candidate> docs{{"home/docs", 900, true}};
  EXPECT_FALSE(hold.decide(Side::Remote, docs, 1000000, 1500));
  auto later = files(600, "home/video");
  EXPECT_FALSE(hold.decide(Side::Remote, later, 1000000, 1500 + DeletionHold::kRunGapMs));
  std::vector<DeletionHold::Candidate> video{{"home/video", 900, true}};
  EXPECT_TRUE(hold.decide(Side::Remote, video, 1000000, 1600 + DeletionHold::kRunGapMs));
  hold.restart(Side::Remote);
  auto again = files(600, "home/pics");
  EXPECT_FALSE(hold.decide(Side::Remote, again, 1000000, 5000 + DeletionHold::kRunGapMs));
  std::vector<DeletionHold::Candidate> nextRun{{"home/pics", 900, true}};
  EXPECT_FALSE(hold.decide(Side::Remote, nextRun, 1000000, 5000 + 2 * DeletionHold::kRunGapMs));
}

TEST(DeletionHold, KeepingHandsEverythingHeldOverOnceAndEndsTheRun) {
  DeletionHold hold(DeletionLimits{});
  std::vector<DeletionHold::Candidate> here{{"home/photos", 30, true, "/s/Photos"}};
  ASSERT_TRUE(hold.decide(Side::Local, here, 40, 0));
  auto there = files(25, "home/docs");
  ASSERT_TRUE(hold.decide(Side::Remote, there, 40, 0));
  const auto listed = hold.list();
  ASSERT_EQ(listed.size(), 26u);
  EXPECT_EQ(listed.front().side, Side::Local);
  EXPECT_EQ(listed.front().localPath, "/s/Photos");
  EXPECT_EQ(listed.front().files, 30u);
  EXPECT_EQ(listed.back().side, Side::Remote);

  hold.restore();
  EXPECT_EQ(hold.heldFiles(), 0u) << "kept entries are no longer held";
  EXPECT_TRUE(hold.restorePending());
  // A pass that runs before the sync thread takes them holds one again:
  // the hand-over wins, the entry is not held twice.
  auto straggler = files(1, "home/other");
  EXPECT_FALSE(hold.decide(Side::Remote, straggler, 40, 1)) << "the run that held was ended";
  std::vector<DeletionHold::Candidate> photos{{"home/photos", 30, true, "/s/Photos"}};
  ASSERT_TRUE(hold.decide(Side::Local, photos, 40, 2));
  const auto kept = hold.takeRestoring();
  EXPECT_EQ(kept.size(), 26u);
  EXPECT_FALSE(hold.restorePending());
  EXPECT_EQ(hold.heldEntries(), 0u);
  EXPECT_TRUE(hold.takeRestoring().empty());
}

TEST(DeletionHold, APassInProgressStillListsAndAnswersWhatItHeldBefore) {
  DeletionHold hold(DeletionLimits{});
  auto batch = files(30);
  ASSERT_TRUE(hold.decide(Side::Remote, batch, 40, 0));
  // The next pass begins: until it has weighed its removals, what the user
  // was shown is still held, and a confirmation releases it.
  hold.restart(Side::Remote);
  EXPECT_EQ(hold.list().size(), 30u);
  hold.confirm();
  EXPECT_EQ(hold.heldFiles(), 0u);
  auto again = files(30);
  EXPECT_FALSE(hold.decide(Side::Remote, again, 40, 10000)) << "released, not held again";
  EXPECT_TRUE(again.empty());

  // A path the pass lets through, or does not find again, leaves the list.
  auto next = files(30, "home/e");
  ASSERT_TRUE(hold.decide(Side::Remote, next, 40, 20000));
  hold.restart(Side::Remote);
  auto fewer = files(2, "home/e");
  EXPECT_FALSE(hold.decide(Side::Remote, fewer, 40, 30000));
  EXPECT_EQ(hold.heldEntries(), 28u);
  hold.settle(Side::Remote);
  EXPECT_EQ(hold.heldEntries(), 0u);
}

}  // namespace
}  // namespace varnelo::sync
