#include "platform/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

extern char** environ;

namespace platform {
namespace {

// Children started and not yet reaped; reaped without waiting on each
// later start, so at most the programs still running are kept.
std::mutex gChildrenMutex;  // guards gChildren
std::vector<pid_t> gChildren;

void reapFinished() {
  std::lock_guard lock(gChildrenMutex);
  std::erase_if(gChildren, [](pid_t pid) {
    int status;
    return ::waitpid(pid, &status, WNOHANG) != 0;  // finished, or not ours any more
  });
}

std::error_code spawn(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return std::make_error_code(std::errc::invalid_argument);
  reapFinished();
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawnattr_t attr;
  if (int rc = posix_spawnattr_init(&attr)) return {rc, std::generic_category()};
  // The child starts clean: no blocked or ignored signals inherited from
  // our threads, and a session of its own so that it outlives us.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return {rc, std::generic_category()};
  std::lock_guard lock(gChildrenMutex);
  gChildren.push_back(pid);
  return {};
}

class SystemLauncher : public ShellLauncher {
 public:
  explicit SystemLauncher(std::string elevator) : elevator_(std::move(elevator)) {}
  std::error_code open(const std::string& target) override {
    // xdg-open takes no options but its own; a target that looks like one
    // is not something we open.
    if (target.empty() || target[0] == '-')
      return std::make_error_code(std::errc::invalid_argument);
    return spawn({"xdg-open", target});
  }
  std::error_code run(const std::string& program, const std::vector<std::string>& args) override {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv);
  }
  std::error_code runElevated(const std::string& program,
                              const std::vector<std::string>& args) override {
    if (program.empty()) return std::make_error_code(std::errc::invalid_argument);
    // By its full path: a PATH of the user's choosing must not decide what
    // asks for the administrator's password.
    std::vector<std::string> argv{elevator_, program};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv);
  }

 private:
  const std::string elevator_;
};

std::atomic<ShellLauncher*> gCurrent{nullptr};

}  // namespace

std::unique_ptr<ShellLauncher> makeSystemLauncher(const std::string& elevator) {
  return std::make_unique<SystemLauncher>(elevator);
}

ShellLauncher& systemLauncher() {
  static SystemLauncher launcher("/usr/bin/pkexec");
  return launcher;
}

ShellLauncher& currentLauncher() {
  ShellLauncher* launcher = gCurrent.load();
  return launcher != nullptr ? *launcher : systemLauncher();
}

ShellLauncher* setCurrentLauncher(ShellLauncher* launcher) {
  ShellLauncher* previous = gCurrent.exchange(launcher);
  return previous != nullptr ? previous : &systemLauncher();
}

std::error_code RecordingLauncher::open(const std::string& target) {
  return record(Verb::Open, target, {});
}

std::error_code RecordingLauncher::run(const std::string& program,
                                       const std::vector<std::string>& args) {
  return record(Verb::Run, program, args);
}

std::error_code RecordingLauncher::runElevated(const std::string& program,
                                               const std::vector<std::string>& args) {
  return record(Verb::RunElevated, program, args);
}

std::error_code RecordingLauncher::record(Verb verb, const std::string& target,
                                          const std::vector<std::string>& args) {
  std::lock_guard lock(mutex_);
  calls_.push_back({verb, target, args});
  changed_.notify_all();
  return result_;
}

void RecordingLauncher::setResult(std::error_code result) {
  std::lock_guard lock(mutex_);
  result_ = result;
}

std::vector<RecordingLauncher::Call> RecordingLauncher::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool RecordingLauncher::waitForCalls(size_t count, int millis) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(millis),
                           [&] { return calls_.size() >= count; });
}

std::vector<std::string> powerOffCommand() {
  std::vector<std::string> words;
  if (const char* command = std::getenv("VARNELO_POWEROFF_COMMAND")) {
    std::string word;
    for (const char* c = command;; ++c) {
      if (*c == '\0' || *c == ' ' || *c == '\t') {
        if (!word.empty()) words.push_back(std::move(word));
        word.clear();
        if (*c == '\0') break;
      } else {
        word.push_back(*c);
      }
    }
  }
  if (words.empty()) words = {"systemctl", "poweroff"};
  return words;
}

std::error_code powerOff() {
  std::vector<std::string> command = powerOffCommand();
  const std::string program = command.front();
  command.erase(command.begin());
  return currentLauncher().run(program, command);
}

}  // namespace platform
