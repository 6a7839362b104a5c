// A program run in the background for the desktop's end-to-end tests (the
// real `varnelo`, `varnelocmd`), with its own environment and its standard
// output and error in a file. The destructor kills what is still running.
// Used from the test's main thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace varnelo::test {

class AppProcess {
 public:
  using Env = std::vector<std::pair<std::string, std::string>>;

  // Starts argv[0] (a path) with the test's environment plus `env` (an empty
  // value removes a variable); output goes to `logPath`.
  AppProcess(const std::vector<std::string>& argv, const Env& env, const std::string& logPath);
  ~AppProcess();
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Waits up to `timeoutMs` for the exit; true and the exit code (255 for
  // -1) when it exited, -2 when a signal ended it.
  bool wait(int timeoutMs, int* exitCode = nullptr);
  bool running();
  void kill(int signal);
  // Everything written so far.
  std::string output() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int exitCode_ = -1;
  std::string logPath_;
};

// Runs to the end (at most `timeoutMs`); the exit code, -1 on a time-out.
int runToEnd(const std::vector<std::string>& argv, const AppProcess::Env& env,
             const std::string& logPath, int timeoutMs);

}  // namespace varnelo::test
