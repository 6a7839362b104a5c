// One engine in a child process over an EngineComputer's folders, for the
// scenarios that kill a computer with SIGKILL and start it again over the
// same folders. Used from the test thread.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine_harness.h"

namespace varnelo::e2e {

class ChildEngine {
 public:
  ChildEngine(const EngineComputer& pc, const std::string& user, const std::string& key,
              const std::string& secret) {
    std::vector<std::string> args{
        VARNELO_ENGINE_CHILD, pc.dataFolder(), pc.root(), user, key, secret};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[0], 0);
      close(fds[0]);
      close(fds[1]);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[0]);
    stdin_ = fds[1];
  }
  ~ChildEngine() { kill(); }
  bool started() const { return pid_ > 0; }
  void kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
};

}  // namespace varnelo::e2e
