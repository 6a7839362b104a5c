#include "AppProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "platform/files.h"

extern char** environ;

namespace varnelo::test {

AppProcess::AppProcess(const std::vector<std::string>& argv, const Env& env,
                       const std::string& logPath)
    : logPath_(logPath) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) vars[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [k, v] : env) {
    if (v.empty()) {
      vars.erase(k);
    } else {
      vars[k] = v;
    }
  }
  std::vector<std::string> envText;
  for (const auto& [k, v] : vars) envText.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envText) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

AppProcess::~AppProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool AppProcess::wait(int timeoutMs, int* exitCode) {
  if (pid_ <= 0) return false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!reaped_) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      break;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (exitCode) *exitCode = exitCode_;
  return true;
}

bool AppProcess::running() {
  return pid_ > 0 && !wait(0);
}

void AppProcess::kill(int signal) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
}

std::string AppProcess::output() const {
  std::string text;
  platform::files::readFile(logPath_, text);
  return text;
}

int runToEnd(const std::vector<std::string>& argv, const AppProcess::Env& env,
             const std::string& logPath, int timeoutMs) {
  AppProcess p(argv, env, logPath);
  int code = -1;
  return p.wait(timeoutMs, &code) ? code : -1;
}

}  // namespace varnelo::test
