#include "PlatformServices.h"

#include <QCoreApplication>

#include "Application.h"
#include "varnelo/account.h"

namespace varnelo::desktop {
namespace {

// The registry key as it is while no installer has made it: nothing is
// read, nothing written.
class MissingKey final : public SchedulerValues {
 public:
  std::optional<uint32_t> dword(const char*) override { return std::nullopt; }
  void setDword(const char*, uint32_t) override {}
  std::optional<std::string> text(const char*) override { return std::nullopt; }
  void setText(const char*, const std::string&) override {}
};

}  // namespace

std::string ownProgramFolder() {
  return QCoreApplication::applicationDirPath().toStdString();
}

PlatformServices::PlatformServices(Application& app)
    : app_(app), values_(std::make_unique<MissingKey>()) {}

PlatformServices::~PlatformServices() = default;

DailyTasks PlatformServices::dailyTasks() {
  return DailyTasks(
      *values_, {platform::currentFileTime, localFileTime}, applicationVersion(),
      [](const std::string& report) { varnelo_log2(report.c_str()); },
      [this](const std::string& host) { app_.run(host, {"-scheduler"}); }, ownProgramFolder());
}

}  // namespace varnelo::desktop
