#include "PlatformServices.h"

#include <QCoreApplication>

#include "Application.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "varnelo/account.h"

namespace varnelo::desktop {
namespace {

// HKCU\SOFTWARE\Varnelo: opened, never created, by the application (the
// installer makes it); while it is missing nothing is read or written.
class RegistryValues final : public SchedulerValues {
 public:
  std::optional<uint32_t> dword(const char* name) override {
    uint32_t value = 0;
    if (key_.readDword(name, value)) return std::nullopt;
    return value;
  }
  void setDword(const char* name, uint32_t value) override {
    if (key_.keyExists()) key_.writeDword(name, value);
  }
  std::optional<std::string> text(const char* name) override {
    std::string value;
    if (key_.readString(name, value) || value.empty()) return std::nullopt;
    return value;
  }
  void setText(const char* name, const std::string& value) override {
    if (key_.keyExists()) key_.writeString(name, value);
  }

 private:
  platform::Registry key_;
};

}  // namespace

std::string ownProgramFolder() {
  return QCoreApplication::applicationDirPath().toStdString();
}

PlatformServices::PlatformServices(Application& app)
    : app_(app), values_(std::make_unique<RegistryValues>()) {
  // Everything is started through the platform's current launcher, which
  // tests replace with a recorder.
  app.setOpener([](const std::string& target) {
    std::error_code ec = platform::currentLauncher().open(target);
    if (ec) qWarning("varnelo: cannot open [%s]: %s", target.c_str(), ec.message().c_str());
    return !ec;
  });
  app.setRunner([](const std::string& program, const std::vector<std::string>& arguments) {
    std::error_code ec = platform::currentLauncher().run(program, arguments);
    if (ec) qWarning("varnelo: cannot start [%s]: %s", program.c_str(), ec.message().c_str());
    return !ec;
  });
  app.setPowerOff([] {
    std::error_code ec = platform::powerOff();
    if (ec) qWarning("varnelo: cannot power off: %s", ec.message().c_str());
    return !ec;
  });
}

PlatformServices::~PlatformServices() = default;

DailyTasks PlatformServices::dailyTasks() {
  return DailyTasks(
      *values_, {platform::currentFileTime, localFileTime}, applicationVersion(),
      [](const std::string& report) { varnelo_log2(report.c_str()); },
      [this](const std::string& host) { app_.run(host, {"-scheduler"}); }, ownProgramFolder());
}

}  // namespace varnelo::desktop
