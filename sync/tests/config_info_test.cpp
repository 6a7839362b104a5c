#include "ConfigInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TempDir.h"

using varnelo::SyncConfigInfo;
using varnelo::VolumeRecord;
using varnelo::test::TempDir;

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(cfg_.open(dir_ / "config.db"), 200); }
  TempDir dir_;
  SyncConfigInfo cfg_;
};

TEST_F(ConfigTest, FileHoldingTokensIsPrivate) {
  struct stat st {};
  ASSERT_EQ(stat((dir_ / "config.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(cfg_.open(dir_ / "config.db"), 200);  // reopening only ensures tables
}

TEST_F(ConfigTest, KeysUpsertRemoveAndQuotesRoundTrip) {
  std::string v;
  EXPECT_EQ(cfg_.get("user", v), 404);
  EXPECT_EQ(cfg_.set("user", "o'brien"), 200);
  EXPECT_EQ(cfg_.set("user", "d'arcy ''x'"), 200);  // update, not a second row
  ASSERT_EQ(cfg_.get("user", v), 200);
  EXPECT_EQ(v, "d'arcy ''x'");
  EXPECT_EQ(cfg_.remove("user"), 200);
  EXPECT_EQ(cfg_.get("user", v), 404);
  EXPECT_EQ(cfg_.remove("never-there"), 200);
}

TEST_F(ConfigTest, IntegersParseLeadingDigits) {
  int mode = 3;
  EXPECT_EQ(cfg_.getInt("syncMode", mode), 404);
  EXPECT_EQ(mode, 3);  // untouched: the engine's default applies
  ASSERT_EQ(cfg_.setInt("syncMode", 1), 200);
  ASSERT_EQ(cfg_.getInt("syncMode", mode), 200);
  EXPECT_EQ(mode, 1);
  cfg_.set("n", "42abc");
  cfg_.getInt("n", mode);
  EXPECT_EQ(mode, 42);
  cfg_.set("n", "abc");
  cfg_.getInt("n", mode);
  EXPECT_EQ(mode, 0);
}

TEST_F(ConfigTest, ExcludeListEncoding) {
  ASSERT_EQ(cfg_.putExcludeDirs({"home/a"}), 200);
  std::string raw;
  cfg_.get("excludeDirs", raw);
  EXPECT_EQ(raw, "home/a|");
  ASSERT_EQ(cfg_.putExcludeDirs({"home/a", "home/it's"}), 200);
  std::vector<std::string> dirs;
  ASSERT_EQ(cfg_.getExcludeDirs(dirs), 200);
  EXPECT_EQ(dirs, (std::vector<std::string>{"home/a", "home/it's"}));
  ASSERT_EQ(cfg_.putExcludeDirs({}), 200);
  cfg_.get("excludeDirs", raw);
  EXPECT_EQ(raw, "");
  dirs.clear();
  EXPECT_EQ(cfg_.getExcludeDirs(dirs), 200);
  EXPECT_TRUE(dirs.empty());
  // Text after the last bar is ignored.
  EXPECT_EQ(SyncConfigInfo::decodeExcludeDirs("a|b|rest"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ConfigTest, VolumesKeepNamesAndLocalPathsStayUnique) {
  std::vector<VolumeRecord> vols;
  EXPECT_EQ(cfg_.listVolumes(vols), 404);
  EXPECT_TRUE(vols.empty());
  ASSERT_EQ(cfg_.putVolume("/home", "/data/Varnelo", ""), 200);
  ASSERT_EQ(cfg_.putVolume("/home", "/data/Moved", ""), 200);  // remount moves it
  std::string local, name;
  ASSERT_EQ(cfg_.getVolume("/home", local, name), 200);
  EXPECT_EQ(local, "/data/Moved");
  EXPECT_EQ(cfg_.putVolume("/other", "/data/Moved", ""), -4);  // folder already used
  ASSERT_EQ(cfg_.listVolumes(vols), 200);
  ASSERT_EQ(vols.size(), 1u);
  EXPECT_EQ(vols[0].serverPath, "/home");
  EXPECT_EQ(cfg_.getVolume("/nope", local, name), 404);
}

TEST(ConfigClosed, NeverOpenedStoreFailsCleanly) {
  SyncConfigInfo cfg;
  std::string v;
  std::vector<VolumeRecord> vols;
  EXPECT_EQ(cfg.get("user", v), 404);
  EXPECT_EQ(cfg.set("user", "x"), -4);
  EXPECT_EQ(cfg.remove("user"), -4);
  EXPECT_EQ(cfg.listVolumes(vols), 404);
  EXPECT_EQ(cfg.putVolume("/home", "/x", ""), -4);
}

TEST(ConfigOpen, UnopenableFileIsMinusFour) {
  SyncConfigInfo cfg;
  EXPECT_EQ(cfg.open("/nonexistent-folder/for/sure/config.db"), -4);
}

TEST(ConfigOpen, ADamagedFileIsSetAsideForAFreshOne) {
  TempDir dir;
  { std::ofstream(dir / "config.db", std::ios::binary) << std::string(3000, 'z'); }
  SyncConfigInfo cfg;
  ASSERT_EQ(cfg.open(dir / "config.db"), 200);
  EXPECT_EQ(cfg.set("user", "x"), 200);
  bool kept = false;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    kept = kept || e.path().filename().string().rfind("config.db.damaged-", 0) == 0;
  EXPECT_TRUE(kept);
}
