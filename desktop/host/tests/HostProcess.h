// Runs the built varnelohost for a test in a private world: its own
// registry, autostart, runtime and temporary folders under one temporary
// root (set in this process's environment, which the child inherits), and
// waits for it with a deadline. Used from the test's main thread.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"

extern char** environ;

namespace varnelo::host::test {

class HostWorld {
 public:
  HostWorld() {
    char dir[] = "/tmp/host-e2e-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    root_ = dir;
    for (const char* sub : {"/config", "/data", "/tmp", "/run", "/app/bin"})
      platform::files::createDirectories(root_ + sub, 0700);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
  }
  ~HostWorld() {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
      unsetenv(name);
    platform::files::removeTree(root_);
  }
  HostWorld(const HostWorld&) = delete;
  HostWorld& operator=(const HostWorld&) = delete;

  const std::string& root() const { return root_; }
  std::string appFolder() const { return root_ + "/app/bin"; }

  // Writes an executable script that appends its arguments, one line per
  // run, to `marker`.
  static void writeRecorder(const std::string& path, const std::string& marker,
                            const std::string& extra = "") {
    std::ofstream(path) << "#!/bin/sh\n" << extra << "echo \"$*\" >> '" << marker << "'\n";
    chmod(path.c_str(), 0755);
  }

  // Runs the host with `args`; its exit status, or nothing when it did not
  // end within the deadline (it is killed then).
  static std::optional<int> runHost(const std::vector<std::string>& args, int timeoutMs = 60000) {
    std::vector<std::string> words{VARNELO_HOST_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    return runProgram(std::move(words), timeoutMs);
  }

  // The same for any program (`words` with the program first).
  static std::optional<int> runProgram(std::vector<std::string> words, int timeoutMs = 60000) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
      return std::nullopt;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status)) return std::nullopt;
    return static_cast<int8_t>(WEXITSTATUS(status));
  }

  // The file's text once it exists (a started program writes it), or "".
  static std::string waitForFile(const std::string& path, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      std::ifstream in(path);
      std::stringstream text;
      text << in.rdbuf();
      if (in && !text.str().empty() && text.str().back() == '\n') return text.str();
      if (std::chrono::steady_clock::now() > deadline) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

 private:
  std::string root_;
};

}  // namespace varnelo::host::test
