#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>
#include <vector>

#include "platform/files.h"
#include "test_folder.h"

using platform::Registry;
using platform::RegistryValue;
using platform::testing::ScopedEnv;
using platform::testing::TempFolder;

TEST(RegistryTest, DefaultPathFollowsXdgConfigHome) {
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/x/conf");
    EXPECT_EQ(Registry::defaultPath(), "/x/conf/varnelo/registry");
  }
  ScopedEnv config("XDG_CONFIG_HOME", "relative");
  ScopedEnv home("HOME", "/home/u");
  EXPECT_EQ(Registry::defaultPath(), "/home/u/.config/varnelo/registry");
}

TEST(RegistryTest, TypedValuesMissingKeyAndPrivateFiles) {
  TempFolder dir;
  Registry key(dir / "conf/varnelo/registry");
  EXPECT_FALSE(key.keyExists());
  std::string text;
  uint32_t number = 7;
  EXPECT_EQ(key.readString("AppFolder", text), std::errc::no_such_file_or_directory);
  EXPECT_EQ(key.readDword("FirstInstall", number), std::errc::no_such_file_or_directory);
  EXPECT_EQ(key.deleteValue("AppFolder"), std::errc::no_such_file_or_directory);

  ASSERT_FALSE(key.writeDword("FirstInstall", 0xFFFFFFFFu));
  ASSERT_FALSE(key.writeString("AppFolder", "/opt/a\tb\\c\nd\re 网盘"));
  ASSERT_FALSE(key.writeString("Empty", ""));
  EXPECT_TRUE(key.keyExists());
  struct stat st {};
  ASSERT_EQ(stat(key.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir / "conf/varnelo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ASSERT_FALSE(Registry(key.path()).readDword("firstinstall", number));
  EXPECT_EQ(number, 0xFFFFFFFFu);
  ASSERT_FALSE(key.readString("APPFOLDER", text));
  EXPECT_EQ(text, "/opt/a\tb\\c\nd\re 网盘");
  ASSERT_FALSE(key.readString("Empty", text));
  EXPECT_EQ(text, "");
  // A name holding the file's separators is a name like any other.
  ASSERT_FALSE(key.writeDword("Odd\tname\n", 5));
  ASSERT_FALSE(Registry(key.path()).readDword("Odd\tname\n", number));
  EXPECT_EQ(number, 5u);
  ASSERT_FALSE(key.deleteValue("Odd\tname\n"));
  EXPECT_EQ(key.readString("FirstInstall", text), std::errc::bad_message);
  EXPECT_EQ(key.readDword("AppFolder", number), std::errc::bad_message);

  // A write replaces a value of either type under its first spelling.
  ASSERT_FALSE(key.writeString("FIRSTINSTALL", "now text"));
  std::vector<RegistryValue> all;
  ASSERT_FALSE(key.readAll(all));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].name, "FirstInstall");
  EXPECT_EQ(all[0].type, RegistryValue::Type::String);

  ASSERT_FALSE(key.deleteValue("appfolder"));
  EXPECT_EQ(key.readString("AppFolder", text), std::errc::no_such_file_or_directory);
  EXPECT_EQ(key.writeString("", "x"), std::errc::invalid_argument);
  EXPECT_EQ(key.writeString("a", std::string("x\0y", 3)), std::errc::invalid_argument);

  ASSERT_FALSE(key.deleteKey());
  EXPECT_FALSE(key.keyExists());
  EXPECT_FALSE(key.deleteKey());
  EXPECT_FALSE(Registry(dir / "never/registry").deleteKey());
}

TEST(RegistryTest, DamagedLinesAreSkipped) {
  const auto values = platform::parseRegistry(
      "# comment\n"
      "Good\tsz\tvalue\r\n"
      "\n"
      "NoType\tvalue\n"
      "Big\tdword\t4294967296\n"
      "Neg\tdword\t-1\n"
      "Hex\tdword\t0x10\n"
      "BadEscape\tsz\ta\\qb\n"
      "Odd\tbinary\t00\n"
      "\tsz\tnameless\n"
      "Num\tdword\t42\n"
      "Tabs\tsz\ta\tb\n"
      "Last\tsz\tno newline");
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(values[0].text, "value");
  EXPECT_EQ(values[1].number, 42u);
  EXPECT_EQ(values[2].text, "a\tb");
  EXPECT_EQ(values[3].name, "Last");
  const auto again = platform::parseRegistry(platform::formatRegistry(values));
  ASSERT_EQ(again.size(), 4u);
  EXPECT_EQ(again[2].text, "a\tb");
}

TEST(RegistryTest, ConcurrentWritersKeepEveryValue) {
  TempFolder dir;
  const std::string path = dir / "varnelo/registry";
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      Registry key(path);  // an object of its own, like another process
      for (int i = 0; i < 15; ++i) {
        EXPECT_FALSE(key.writeDword("w" + std::to_string(w) + "-" + std::to_string(i), i));
      }
    });
  }
  for (auto& t : writers) t.join();
  std::vector<RegistryValue> all;
  ASSERT_FALSE(Registry(path).readAll(all));
  EXPECT_EQ(all.size(), 60u);
  std::vector<platform::files::DirEntry> entries;
  ASSERT_FALSE(platform::files::listDirectory(dir / "varnelo", entries));
  EXPECT_EQ(entries.size(), 2u) << "only the file and its lock, no temporary files left";
}
