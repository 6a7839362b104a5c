#include "InstallerSteps.h"

#include <chrono>
#include <thread>

#include "HostLog.h"
#include "HostValues.h"
#include "platform/autostart.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/registry.h"
#include "platform/shell.h"

#ifndef VARNELO_VERSION
#error "VARNELO_VERSION must come from the build"
#endif

namespace varnelo::host {
namespace {

constexpr const char* kAppInstance = "Global\\VarneloAppInstance";

// True when the application holds its instance lock.
bool application_running() {
  platform::InstanceLock probe;
  return probe.tryAcquire(kAppInstance) == std::errc::resource_unavailable_try_again;
}

}  // namespace

int record_install(const std::string& binFolder) {
  platform::Registry key;
  std::error_code ec = key.writeString(kAppVersion, VARNELO_VERSION);
  if (!ec) ec = key.writeString(kAppFolder, binFolder);
  if (ec) {
    host_log(kHostError, "cannot record the installation in %s: %s", key.path().c_str(),
             ec.message().c_str());
    return 1;
  }
  platform::autostart::Entry entry;
  entry.name = "Varnelo";
  entry.program = platform::files::joinPath(binFolder, "varnelohost");
  entry.icon = "varnelo";
  if (auto aec = platform::autostart::write("varnelo", entry)) {
    host_log(kHostError, "cannot write the autostart entry: %s", aec.message().c_str());
    return 1;
  }
  return 0;
}

int stop_application(const std::string& binFolder, int timeoutMs) {
  if (!application_running()) return 1;
  std::string program = platform::files::joinPath(binFolder, "varnelo");
  if (auto ec = platform::currentLauncher().run(program, {"-upgrade"})) {
    host_log(kHostError, "cannot ask %s to stop: %s", program.c_str(), ec.message().c_str());
    return 2;
  }
  // The application shows its balloon for two seconds before it exits; its
  // lock goes with the process.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (application_running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      host_log(kHostWarning, "the application is still running after %d ms", timeoutMs);
      return 2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

}  // namespace varnelo::host
