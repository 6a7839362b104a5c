// The record of remote entries taken aside: what is written comes back
// whole, and a record that is torn, truncated, garbled or describes
// anything but an entry beside its own name under a conflicted copy's name
// gives back nothing of what it cannot vouch for.
#include <gtest/gtest.h>

#include "Digest.h"
#include "LocalRemoval.h"
#include "RemoteHoldFile.h"
#include "TempDir.h"
#include "platform/files.h"

namespace varnelo {
namespace {

namespace files = platform::files;

sync::VersionSignature version(uint8_t seed) {
  sync::VersionSignature v{};
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(seed + i * 17);
  return v;
}

JournalNode row(const std::string& name, int type, uint8_t seed,
                std::vector<JournalNode> below = {}) {
  JournalNode node;
  node.row.name = name;
  node.row.type = type;
  node.row.signature = version(seed);
  node.row.fileSize = type == sync::FileJournal::kTypeFile ? 42 : 0;
  node.row.editTime = 133000000000000000 + seed;
  node.children = std::move(below);
  return node;
}

RemoteHold fileHold() {
  RemoteHold hold;
  hold.from = "home/Notes %1/to do.txt";
  hold.path = "home/Notes %1/to do (Conflicted copy 2026-12-08_23-40-12).txt";
  hold.synced = version(1);
  hold.size = 9;
  hold.editTime = "Tue, 08 Dec 2026 23:40:12 +0000";
  hold.data = std::string("a\0b\n c%d", 9);
  hold.moved = true;
  hold.checked = true;
  return hold;
}

RemoteHold folderHold() {
  constexpr int kFile = sync::FileJournal::kTypeFile;
  constexpr int kFolder = sync::FileJournal::kTypeFolder;
  RemoteHold hold;
  hold.from = "home/Docs";
  hold.path = "home/Docs (Conflicted copy 2026-12-08_23-40-12 2)";
  hold.synced = version(7);
  hold.folder = std::make_shared<const JournalNode>(
      row("docs", kFolder, 7,
          {row("a.txt", kFile, 8),
           row("sub", kFolder, 9, {row("deep", kFolder, 10, {row("x y\nz.bin", kFile, 11)})}),
           row("b.txt", kFile, 12), row("empty", kFolder, 13)}));
  return hold;
}

// Every row of `node` as "depth name type", in the order written.
void flatten(const JournalNode& node, int depth, std::vector<std::string>& out) {
  const sync::JournalEntry& r = node.row;
  std::string sig(r.signature.begin(), r.signature.end());
  out.push_back(std::to_string(depth) + " " + r.name + " " + std::to_string(r.type) + " " + sig +
                " " + std::to_string(r.fileSize) + " " + std::to_string(r.editTime));
  for (const JournalNode& child : node.children) flatten(child, depth + 1, out);
}

std::vector<std::string> rowsOf(const RemoteHold& hold) {
  std::vector<std::string> out;
  if (hold.folder) flatten(*hold.folder, 0, out);
  return out;
}

void expectSame(const RemoteHold& want, const RemoteHold& got) {
  EXPECT_EQ(got.from, want.from);
  EXPECT_EQ(got.path, want.path);
  EXPECT_EQ(got.synced, want.synced);
  EXPECT_EQ(got.size, want.size);
  EXPECT_EQ(got.editTime, want.editTime);
  EXPECT_EQ(got.data, want.data);
  EXPECT_EQ(rowsOf(got), rowsOf(want));
  // Whatever the run that wrote it knew, the next one looks again.
  EXPECT_FALSE(got.moved);
  EXPECT_FALSE(got.checked);
}

// Seals a hand-made record the way a sound one is sealed, so that only its
// content is what the reader has to judge.
std::string sealed(const std::string& holdLines, int holds) {
  std::string body = "varnelo remote holds 1\n" + holdLines;
  const ChunkKey digest = sha1Of(body.data(), body.size());
  std::string hex;
  for (uint8_t b : digest) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return body + "end " + std::to_string(holds) + " " + hex + "\n";
}

const std::string kVersion(32, 'a');
const std::string kGoodHold = "hold home/ok home/ok%20(Conflicted%20copy%202026-12-08_23-40-12) " +
                              kVersion + " 3 % =616263 0\n";

TEST(RemoteHoldFile, WhatIsWrittenComesBackWhole) {
  const RemoteHold file = fileHold();
  const RemoteHold folder = folderHold();
  RemoteHold bare = fileHold();
  bare.from = "home/ünïcode";
  bare.path = "home/ünïcode (Conflicted copy 2026-12-08_23-40-12)";
  bare.editTime.clear();
  bare.data.reset();
  RemoteHold emptyData = fileHold();
  emptyData.from = "home/zero";
  emptyData.path = "home/zero (Conflicted copy 2026-12-08_23-40-12)";
  emptyData.size = 0;
  emptyData.data = std::string();

  std::vector<std::string> dropped;
  const std::vector<RemoteHold> back =
      decodeRemoteHolds(encodeRemoteHolds({&file, &folder, &bare, &emptyData}), dropped);
  EXPECT_TRUE(dropped.empty()) << ::testing::PrintToString(dropped);
  ASSERT_EQ(back.size(), 4u);
  expectSame(file, back[0]);
  expectSame(folder, back[1]);
  expectSame(bare, back[2]);
  expectSame(emptyData, back[3]);
  EXPECT_FALSE(back[2].data.has_value()) << "no inline data is not empty inline data";
  ASSERT_TRUE(back[3].data.has_value());

  EXPECT_TRUE(decodeRemoteHolds(encodeRemoteHolds({}), dropped).empty());
  EXPECT_TRUE(dropped.empty());
}

// A record cut anywhere (a crash while it was written, a full disk) or with
// any byte changed gives back nothing at all.
TEST(RemoteHoldFile, ATornOrGarbledRecordGivesBackNothing) {
  const RemoteHold file = fileHold();
  const RemoteHold folder = folderHold();
  const std::string text = encodeRemoteHolds({&file, &folder});
  for (size_t length = 0; length < text.size(); ++length) {
    std::vector<std::string> dropped;
    EXPECT_TRUE(decodeRemoteHolds(text.substr(0, length), dropped).empty())
        << "cut after " << length << " bytes";
    EXPECT_FALSE(dropped.empty());
  }
  for (size_t at = 0; at < text.size(); ++at) {
    for (const unsigned char mask : {0x01, 0x20, 0x80}) {
      std::string garbled = text;
      garbled[at] = static_cast<char>(garbled[at] ^ mask);
      std::vector<std::string> dropped;
      EXPECT_TRUE(decodeRemoteHolds(garbled, dropped).empty())
          << "byte " << at << " changed by " << int(mask);
    }
  }
  std::vector<std::string> dropped;
  EXPECT_TRUE(decodeRemoteHolds(text + text, dropped).empty()) << "two records run together";
  EXPECT_TRUE(decodeRemoteHolds(text + "hold\n", dropped).empty()) << "text after the seal";
  EXPECT_TRUE(decodeRemoteHolds(std::string(4096, '\0'), dropped).empty()) << "zeroed blocks";
  EXPECT_TRUE(decodeRemoteHolds(sealed(kGoodHold, 2), dropped).empty()) << "a hold missing";
  EXPECT_TRUE(
      decodeRemoteHolds("varnelo remote holds 2\n" + sealed(kGoodHold, 1).substr(23), dropped)
          .empty())
      << "a later format";
}

// A sealed record (so no accident) whose holds describe what this engine
// never takes aside: each such hold is dropped alone, the sound one stays.
TEST(RemoteHoldFile, AHoldOfAnythingButAConflictedCopyBesideItsNameIsDropped) {
  const std::string aside = "%20(Conflicted%20copy%202026-12-08_23-40-12)";
  const std::string sig = " " + kVersion + " ";
  const std::string badHolds[] = {
      // Taken to another folder, to its own name, to a name with no marker.
      "hold home/a home/other/a" + aside + sig + "3 % - 0\n",
      "hold home/b home/B" + sig + "3 % - 0\n",
      "hold home/c home/shelf" + sig + "3 % - 0\n",
      // Names the service never holds.
      "hold home/../d home/../d" + aside + sig + "3 % - 0\n",
      "hold home/e%00 home/e%00" + aside + sig + "3 % - 0\n",
      "hold e e" + aside + sig + "3 % - 0\n",
      "hold home//f home//f" + aside + sig + "3 % - 0\n",
      // Fields that do not read.
      "hold home/g home/g" + aside + " abc 3 % - 0\n",
      "hold home/h home/h" + aside + sig + "-3 % - 0\n",
      "hold home/i home/i" + aside + sig + "3 % =6 0\n",
      "hold home/j home/j%zz" + aside + sig + "3 % - 0\n",
      // Folder rows that are not a tree of that folder at that version.
      "hold home/k home/k" + aside + sig + "0 % - 1\nrow 0 2 " + kVersion + " 0 0 other\n",
      "hold home/l home/l" + aside + sig + "0 % - 1\nrow 0 2 " + std::string(32, 'b') + " 0 0 l\n",
      "hold home/m home/m" + aside + sig + "0 % - 2\nrow 0 2 " + kVersion + " 0 0 m\nrow 2 1 " +
          kVersion + " 1 1 x\n",
      "hold home/n home/n" + aside + sig + "0 % - 3\nrow 0 2 " + kVersion + " 0 0 n\nrow 1 1 " +
          kVersion + " 1 1 x\nrow 2 1 " + kVersion + " 1 1 y\n",
      "hold home/o home/o" + aside + sig + "0 % - 3\nrow 0 2 " + kVersion + " 0 0 o\nrow 1 1 " +
          kVersion + " 1 1 x\nrow 1 2 " + kVersion + " 0 0 x\n",
      "hold home/p home/p" + aside + sig + "0 % - 2\nrow 0 2 " + kVersion + " 0 0 p\nrow 1 0 " +
          kVersion + " 1 1 x\n",
      "hold home/q home/q" + aside + sig + "0 % - 2\nrow 0 2 " + kVersion + " 0 0 q\nrow 1 1 " +
          kVersion + " 1 1 ..\n",
      // A folder carrying a file's content.
      "hold home/r home/r" + aside + sig + "5 % =6162636465 1\nrow 0 2 " + kVersion + " 0 0 r\n",
  };
  for (const std::string& bad : badHolds) {
    std::vector<std::string> dropped;
    const std::vector<RemoteHold> back = decodeRemoteHolds(sealed(kGoodHold + bad, 2), dropped);
    ASSERT_EQ(back.size(), 1u) << bad;
    EXPECT_EQ(back[0].from, "home/ok");
    EXPECT_EQ(back[0].data, std::string("abc"));
    EXPECT_EQ(dropped.size(), 1u) << bad;
  }

  // A tree deeper than any path is garbled, not walked.
  std::string deep =
      "hold home/s home/s" + aside + sig + "0 % - 3000\nrow 0 2 " + kVersion + " 0 0 s\n";
  for (int depth = 1; depth < 3000; ++depth) {
    deep += "row " + std::to_string(depth) + " 2 " + kVersion + " 0 0 d\n";
  }
  std::vector<std::string> dropped;
  EXPECT_EQ(decodeRemoteHolds(sealed(kGoodHold + deep, 2), dropped).size(), 1u);

  // Two holds of one name (or to one name) cannot both be what was done.
  const std::string again =
      "hold home/OK home/ok" + aside + " 2" + kVersion.substr(1) + " 3 % - 0\n";
  EXPECT_EQ(decodeRemoteHolds(sealed(kGoodHold + again, 2), dropped).size(), 1u);
  const std::string sameAside = "hold home/ok2 home/ok" + aside + sig + "3 % - 0\n";
  EXPECT_EQ(decodeRemoteHolds(sealed(kGoodHold + sameAside, 2), dropped).size(), 1u);

  // A row count running past the end leaves nothing to trust after it.
  const std::string overrun = "hold home/t home/t" + aside + sig + "0 % - 9\n";
  EXPECT_EQ(decodeRemoteHolds(sealed(kGoodHold + overrun, 2), dropped).size(), 1u);
}

TEST(RemoteHoldFile, SavedHoldsAreReadBackByTheNextRunAndTheFileGoesWhenNoneIsLeft) {
  test::TempDir dir;
  const std::string path = dir / "remote.holds";
  std::map<std::string, RemoteHold> holds;
  const RemoteHold file = fileHold();
  const RemoteHold folder = folderHold();
  holds.emplace(sync::journalPathOf(file.from), file);
  {
    RemoteHoldFile record(path);
    EXPECT_TRUE(record.load().empty());
    EXPECT_FALSE(files::exists(path)) << "nothing held, nothing written";
    // The one about to be moved is recorded beside those held already.
    ASSERT_TRUE(record.save(holds, &folder));
  }
  {
    RemoteHoldFile record(path);
    const std::map<std::string, RemoteHold> back = record.load();
    ASSERT_EQ(back.size(), 2u);
    expectSame(file, back.at("home/notes %1/to do.txt"));
    expectSame(folder, back.at("home/docs"));
    // Finished one by one: the file goes with the last.
    std::map<std::string, RemoteHold> left = back;
    left.erase("home/docs");
    ASSERT_TRUE(record.save(left));
    left.clear();
    ASSERT_TRUE(record.save(left));
  }
  std::vector<files::DirEntry> entries;
  ASSERT_FALSE(files::listDirectory(dir.path(), entries));
  EXPECT_TRUE(entries.empty()) << "record or temporary files left: " << entries.size();

  // A next hold replaces a held one of the same name (taken aside anew).
  RemoteHold renamed = file;
  renamed.path = "home/Notes %1/to do (Conflicted copy 2026-12-09_00-00-00).txt";
  {
    RemoteHoldFile record(path);
    ASSERT_TRUE(record.save(holds, &renamed));
  }
  RemoteHoldFile record(path);
  const std::map<std::string, RemoteHold> back = record.load();
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back.begin()->second.path, renamed.path);
}

TEST(RemoteHoldFile, AnUnreadableRecordIsDroppedAndAnUnwritableOneRefusesTheHold) {
  test::TempDir dir;
  const std::string path = dir / "remote.holds";
  const RemoteHold file = fileHold();
  std::string text = encodeRemoteHolds({&file});
  ASSERT_FALSE(files::writeFile(path, text.substr(0, text.size() / 2)));
  {
    RemoteHoldFile record(path);
    EXPECT_TRUE(record.load().empty());
    EXPECT_FALSE(files::exists(path)) << "a torn record is dropped, not read again each start";
  }

  // With its folder gone the record cannot be written: the caller must not
  // move anything aside on its word.
  RemoteHoldFile nowhere(dir / "gone/remote.holds");
  EXPECT_TRUE(nowhere.load().empty());
  std::map<std::string, RemoteHold> none;
  EXPECT_FALSE(nowhere.save(none, &file));
  EXPECT_TRUE(nowhere.save(none)) << "nothing to record needs no folder";
}

}  // namespace
}  // namespace varnelo
