// A private desktop session for one end-to-end test: its own data, config
// and runtime folders (the test process uses the same runtime folder, so it
// can reach the program's pipe), Qt's offscreen platform, a recording
// xdg-open first on PATH and a harmless power-off command, so the real
// program runs without a screen and opens nothing.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "AppProcess.h"
#include "TempDir.h"
#include "platform/files.h"

namespace varnelo::test {

inline const char* varneloBinary() {
  return VARNELO_APP_BINARY;
}

class DesktopEnv {
 public:
  DesktopEnv() {
    namespace files = platform::files;
    for (const char* sub : {"data", "config", "run", "bin", "home", "logs"}) {
      files::createDirectories(dir_.file(sub), 0700);
    }
    ::chmod(dir_.file("run").c_str(), 0700);
    files::writeFile(dir_.file("bin/xdg-open"),
                     "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" + openedLog() + "\"\n", 0755);
    setenv("XDG_RUNTIME_DIR", dir_.file("run").c_str(), 1);
    const char* path = std::getenv("PATH");
    env_ = {{"XDG_DATA_HOME", dir_.file("data")},
            {"XDG_CONFIG_HOME", dir_.file("config")},
            {"XDG_RUNTIME_DIR", dir_.file("run")},
            {"HOME", dir_.file("home")},
            {"QT_QPA_PLATFORM", "offscreen"},
            {"VARNELO_POWEROFF_COMMAND", "/bin/true"},
            {"PATH", dir_.file("bin") + ":" + (path ? path : "/usr/bin:/bin")}};
  }
  ~DesktopEnv() { unsetenv("XDG_RUNTIME_DIR"); }

  std::string dataFolder() const { return dir_.file("data/Varnelo"); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string openedLog() const { return dir_.file("opened.log"); }
  AppProcess::Env& env() { return env_; }

  std::unique_ptr<AppProcess> start(const std::vector<std::string>& args = {},
                                    const std::string& log = "first.log") {
    std::vector<std::string> argv{varneloBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<AppProcess>(argv, env_, dir_.file("logs/" + log));
  }
  // A later instance run to its end: its exit code.
  int second(const std::vector<std::string>& args, const std::string& log = "second.log") {
    std::vector<std::string> argv{varneloBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runToEnd(argv, env_, dir_.file("logs/" + log), 10000);
  }

 private:
  varnelo::desktop::test::TempDir dir_;
  AppProcess::Env env_;
};

}  // namespace varnelo::test
