#include "DailyTasks.h"

#include <json/json.h>

#include <chrono>
#include <cstdlib>

#include "platform/files.h"

namespace varnelo::desktop {
namespace {

constexpr uint64_t kUnitsPerMs = 10000;
constexpr uint64_t kReportIntervalMs = 86400000;
constexpr uint64_t kUpdateAgeMs = 86399999;

}  // namespace

platform::FileTime localFileTime() {
  using namespace std::chrono;
  platform::LocalTime t = platform::currentLocalTime();
  sys_days day = year_month_day{year(t.year), month(static_cast<unsigned>(t.month)),
                                std::chrono::day(static_cast<unsigned>(t.day))};
  int64_t seconds =
      day.time_since_epoch() / std::chrono::seconds(1) + t.hour * 3600 + t.minute * 60 + t.second;
  return platform::fileTimeFromUnix(seconds, 0);
}

DailyTasks::DailyTasks(SchedulerValues& values, Clock clock, std::string version,
                       std::function<void(const std::string&)> sendReport,
                       std::function<void(const std::string&)> startHost, std::string ownFolder)
    : values_(values),
      clock_(std::move(clock)),
      version_(std::move(version)),
      sendReport_(std::move(sendReport)),
      startHost_(std::move(startHost)),
      ownFolder_(std::move(ownFolder)) {}

std::string DailyTasks::reportText(const std::string& type) {
  Json::Value report(Json::objectValue);
  int64_t seconds = 0, nanoseconds = 0;
  platform::fileTimeToUnix(clock_.utc(), seconds, nanoseconds);
  std::optional<std::string> channel = values_.text("ChannelId");
  report["p"] = "1001";
  report["r"] = type;
  report["v"] = version_ + " Beta";
  report["t"] = std::to_string(seconds);
  report["c"] = channel ? *channel : "1001";
  Json::StreamWriterBuilder builder;  // members come out in key order
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, report);
}

void DailyTasks::reportIfDue() {
  const platform::FileTime now = clock_.utc();
  if (lastReport_ != 0 && now >= lastReport_ &&
      (now - lastReport_) / kUnitsPerMs < kReportIntervalMs) {
    return;
  }
  std::optional<uint32_t> first = values_.dword("FirstInstall");
  std::string type = "1003";
  if (!first || *first == 1) {
    type = "1001";
    values_.setDword("FirstInstall", 0);
  }
  sendReport_(reportText(type));
  lastReport_ = now;
}

bool DailyTasks::updateDue(platform::FileTime updateTime, platform::FileTime now) {
  // An UpdateTime in the future (a clock set back) has an age that does not
  // fit, so the host runs and the value is rewritten.
  if (now < updateTime) return true;
  const uint64_t ageMs = (now - updateTime) / kUnitsPerMs;
  return ageMs > UINT32_MAX || ageMs > kUpdateAgeMs;
}

void DailyTasks::atStart() {
  reportIfDue();
  if (!values_.text("UpdateTime")) values_.setText("UpdateTime", std::to_string(clock_.local()));
}

void DailyTasks::tick() {
  reportIfDue();
  const platform::FileTime now = clock_.local();
  std::optional<std::string> stored = values_.text("UpdateTime");
  if (!stored) {
    values_.setText("UpdateTime", std::to_string(now));
    return;
  }
  char* end = nullptr;
  const platform::FileTime updateTime = std::strtoull(stored->c_str(), &end, 10);
  if (!updateDue(updateTime, now)) return;
  values_.setText("UpdateTime", std::to_string(now));
  std::optional<std::string> appFolder = values_.text("AppFolder");
  startHost_(platform::files::joinPath(appFolder ? *appFolder : ownFolder_, "varnelohost"));
}

}  // namespace varnelo::desktop
