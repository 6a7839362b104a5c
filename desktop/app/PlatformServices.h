// Wires the application to the platform's facilities: how folders and
// addresses are opened, programs started and the computer powered off, and
// the registry values the scheduler keeps. Made once in main() after the
// Application; UI thread.
#pragma once

#include <memory>
#include <string>

#include "DailyTasks.h"

namespace varnelo::desktop {

class Application;

class PlatformServices {
 public:
  explicit PlatformServices(Application& app);
  ~PlatformServices();

  // The scheduler's tasks over the registry key, reporting through
  // varnelo_log2 and starting the update host.
  DailyTasks dailyTasks();

 private:
  Application& app_;
  std::unique_ptr<SchedulerValues> values_;
};

// The folder of the running program ("" when it cannot be read).
std::string ownProgramFolder();

}  // namespace varnelo::desktop
