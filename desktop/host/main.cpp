// varnelohost: the launcher of the application and its daily updater. One
// host per user at a time (the lock "Global\VarneloHostInstance"); a second
// one exits with -1 at once. `--version`, `--record-install` and
// `--stop-application` are the installer's.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ElevatedInstall.h"
#include "HostLog.h"
#include "HostValues.h"
#include "InstallerSteps.h"
#include "InvokingUser.h"
#include "UpdateQuestion.h"
#include "UpdaterHost.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/registry.h"

namespace {

constexpr const char* kHostInstance = "Global\\VarneloHostInstance";
constexpr int kStopTimeoutMs = 30000;

std::string own_folder() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  return platform::files::parentPath(std::string(path, static_cast<size_t>(n)));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnelo::host;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    printf("varnelohost %s\n", VARNELO_VERSION);
    return 0;
  }
  if (!args.empty() && args[0] == kElevatedSwitch) {
    // Root, through pkexec: the one role that keeps root's rights.
    host_log_open();
    std::string why;
    auto request =
        parse_elevated_args(std::vector<std::string>(args.begin() + 1, args.end()), &why);
    if (!request) {
      host_log(kHostError, "%s: %s", kElevatedSwitch, why.c_str());
      return 2;
    }
    return install_elevated(*request, TrustedKeys::from_build_and_environment());
  }
  // Started as root for a user (sudo, or the elevated installer): what the
  // host touches is that user's, so it becomes that user first.
  if (auto user = invoking_user(); user && !become_user(*user)) return 1;
  host_log_open();
  if (args.size() == 1 && args[0] == "--record-install") return record_install(own_folder());
  if (args.size() == 1 && args[0] == "--stop-application")
    return stop_application(own_folder(), kStopTimeoutMs);

  platform::Registry key;
  HostValues values(key);
  MessageBoxQuestion question;
  UpdaterHost host(values, question, TrustedKeys::from_build_and_environment(), own_folder());
  platform::InstanceLock lock;
  if (auto ec = lock.tryAcquire(kHostInstance)) {
    // A lock we may not even open counts as a running host too.
    host_log(kHostInfo, "another host is running (%s)",
             ec == std::errc::resource_unavailable_try_again ? lock.holder().describe().c_str()
                                                             : ec.message().c_str());
    // That host may be a scheduled check waiting on a slow update server;
    // the user who asked for the application still gets it (updates are
    // the other host's business, and the application keeps to one instance
    // itself).
    if (!UpdaterHost::is_scheduled(args)) host.start_application(args);
    return -1;
  }
  return host.run(args);
}
