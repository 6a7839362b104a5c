// The scheduler's daily rules, driven by a fake clock.
#include <gtest/gtest.h>
#include <json/json.h>

#include <map>

#include "DailyTasks.h"

namespace varnelo::desktop {
namespace {

constexpr platform::FileTime kMs = 10000;
constexpr platform::FileTime kStart = 133000000000000000ULL;  // a day in 2022

// The registry values in memory.
class Values : public SchedulerValues {
 public:
  std::optional<uint32_t> dword(const char* name) override {
    auto it = dwords.find(name);
    return it == dwords.end() ? std::nullopt : std::optional<uint32_t>(it->second);
  }
  void setDword(const char* name, uint32_t value) override { dwords[name] = value; }
  std::optional<std::string> text(const char* name) override {
    auto it = texts.find(name);
    return it == texts.end() || it->second.empty() ? std::nullopt
                                                   : std::optional<std::string>(it->second);
  }
  void setText(const char* name, const std::string& value) override { texts[name] = value; }
  std::map<std::string, uint32_t> dwords;
  std::map<std::string, std::string> texts;
};

struct Fixture {
  Values values;
  platform::FileTime now = kStart;
  std::vector<std::string> reports;
  std::vector<std::string> hosts;
  DailyTasks tasks{values,
                   {[this] { return now; }, [this] { return now; }},
                   "1.2.3",
                   [this](const std::string& r) { reports.push_back(r); },
                   [this](const std::string& h) { hosts.push_back(h); },
                   "/opt/varnelo/bin"};
};

TEST(DailyTasksTest, ReportOncePerDayFirstInstallThenLater) {
  Fixture f;
  f.tasks.atStart();
  ASSERT_EQ(f.reports.size(), 1u);
  Json::Value report;
  ASSERT_TRUE(Json::Reader().parse(f.reports[0], report));
  EXPECT_EQ(report["r"].asString(), "1001");  // FirstInstall missing
  EXPECT_EQ(f.values.dwords["FirstInstall"], 0u);
  int64_t seconds = 0, ns = 0;
  platform::fileTimeToUnix(kStart, seconds, ns);
  EXPECT_EQ(f.reports[0], "{\"c\":\"1001\",\"p\":\"1001\",\"r\":\"1001\",\"t\":\"" +
                              std::to_string(seconds) + "\",\"v\":\"1.2.3 Beta\"}");

  f.now += 30 * 60 * 1000 * kMs;
  f.tasks.tick();
  EXPECT_EQ(f.reports.size(), 1u);  // not a day yet
  f.now = kStart + 86400000 * kMs - 1;
  f.tasks.tick();
  EXPECT_EQ(f.reports.size(), 1u);
  f.now = kStart + 86400000 * kMs;
  f.values.setText("ChannelId", "77");
  f.tasks.tick();
  ASSERT_EQ(f.reports.size(), 2u);
  ASSERT_TRUE(Json::Reader().parse(f.reports[1], report));
  EXPECT_EQ(report["r"].asString(), "1003");
  EXPECT_EQ(report["c"].asString(), "77");
}

TEST(DailyTasksTest, FirstInstallOneStillCountsAsFirst) {
  Fixture f;
  f.values.setDword("FirstInstall", 1);
  f.tasks.atStart();
  EXPECT_NE(f.reports.at(0).find("\"r\":\"1001\""), std::string::npos);
  Fixture later;
  later.values.setDword("FirstInstall", 0);
  later.tasks.atStart();
  EXPECT_NE(later.reports.at(0).find("\"r\":\"1003\""), std::string::npos);
}

TEST(DailyTasksTest, HostStartsOneMillisecondAfterTheDay) {
  Fixture f;
  f.tasks.atStart();
  EXPECT_EQ(f.values.texts["UpdateTime"], std::to_string(kStart));  // written at start
  EXPECT_TRUE(f.hosts.empty());

  f.now = kStart + 86399999 * kMs;
  f.tasks.tick();
  EXPECT_TRUE(f.hosts.empty());
  f.now = kStart + 86400000 * kMs;
  f.tasks.tick();
  ASSERT_EQ(f.hosts.size(), 1u);
  EXPECT_EQ(f.hosts[0], "/opt/varnelo/bin/varnelohost");  // no AppFolder: our own folder
  EXPECT_EQ(f.values.texts["UpdateTime"], std::to_string(f.now));

  f.values.setText("AppFolder", "/usr/lib/varnelo");
  f.now += 86400000 * kMs;
  f.tasks.tick();
  ASSERT_EQ(f.hosts.size(), 2u);
  EXPECT_EQ(f.hosts[1], "/usr/lib/varnelo/varnelohost");

  EXPECT_FALSE(DailyTasks::updateDue(kStart, kStart));
  EXPECT_TRUE(DailyTasks::updateDue(kStart, kStart - 1));  // the clock went back
  EXPECT_TRUE(DailyTasks::updateDue(0, kStart));           // does not fit in 32 bits
}

TEST(DailyTasksTest, AStartWithUpdateTimeKeepsIt) {
  Fixture f;
  f.values.setText("UpdateTime", "5");
  f.tasks.atStart();
  EXPECT_EQ(f.values.texts["UpdateTime"], "5");
  f.tasks.tick();  // ancient: due
  EXPECT_EQ(f.hosts.size(), 1u);
}

}  // namespace
}  // namespace varnelo::desktop
