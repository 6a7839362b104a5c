// What the scheduler thread does: at start and every 30 minutes, the daily
// usage report (at most once per 24 hours) and, once a day, the start of the
// update host with "-scheduler". Its state lives in the registry values
// "FirstInstall", "UpdateTime", "AppFolder" and "ChannelId". The clock, the
// values and the two actions are given by the owner, so tests run it with a
// fake clock. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/time.h"

namespace varnelo::desktop {

// The registry values the tasks read and write (HKCU\SOFTWARE\Varnelo).
class SchedulerValues {
 public:
  virtual ~SchedulerValues() = default;
  virtual std::optional<uint32_t> dword(const char* name) = 0;
  virtual void setDword(const char* name, uint32_t value) = 0;
  // A missing or empty value is nullopt.
  virtual std::optional<std::string> text(const char* name) = 0;
  virtual void setText(const char* name, const std::string& value) = 0;
};

class DailyTasks {
 public:
  struct Clock {
    std::function<platform::FileTime()> utc;    // now, 100 ns since 1601 UTC
    std::function<platform::FileTime()> local;  // the local wall time read as if it were UTC
  };
  // sendReport gets the report's JSON text; startHost the host's full path.
  DailyTasks(SchedulerValues& values, Clock clock, std::string version,
             std::function<void(const std::string&)> sendReport,
             std::function<void(const std::string&)> startHost, std::string ownFolder);

  // The first round, at thread start.
  void atStart();
  // Every later round.
  void tick();

  // The report's text for a type ("1001" first install, "1003" later).
  std::string reportText(const std::string& type);

  // Host start is due when UpdateTime is more than 86,399,999 ms old, or
  // its age does not fit into 32 bits.
  static bool updateDue(platform::FileTime updateTime, platform::FileTime now);

 private:
  void reportIfDue();

  SchedulerValues& values_;
  Clock clock_;
  const std::string version_;
  std::function<void(const std::string&)> sendReport_;
  std::function<void(const std::string&)> startHost_;
  const std::string ownFolder_;
  platform::FileTime lastReport_ = 0;  // 0 until the first report
};

// The local wall time as a FileTime (as if the local time were UTC).
platform::FileTime localFileTime();

}  // namespace varnelo::desktop
