// Starting other programs: opening a file, folder or address with the
// user's preferred application (xdg-open), running a program with
// arguments, running one with administrator rights (pkexec), and powering
// the computer off. Everything goes through the process-wide current
// ShellLauncher, so tests swap in a RecordingLauncher and nothing real is
// ever opened, elevated or powered off by a test.
//
// No shell is involved anywhere: programs are started with posix_spawnp and
// an argument vector, in a session of their own, and are not waited for
// (they are reaped later by the launcher). Success means the program was
// started, not that it did what was asked.
//
// Thread safety: every function and both launchers are safe from any thread;
// setCurrentLauncher() is meant for start-up and tests.
//
//   platform::currentLauncher().open("https://example.com/help");
//   platform::currentLauncher().run("/opt/varnelo/varnelohost", {"-scheduler"});
//
//   platform::RecordingLauncher recorder;     // in a test
//   platform::ScopedLauncher use(recorder);
//   ... code under test ...
//   EXPECT_EQ(recorder.calls().at(0).verb, platform::RecordingLauncher::Verb::Open);
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

class ShellLauncher {
 public:
  virtual ~ShellLauncher() = default;
  // Opens `target` (an absolute path or an address) with xdg-open.
  virtual std::error_code open(const std::string& target) = 0;
  // Starts `program` (a path, or a name looked up in PATH) with `args`.
  virtual std::error_code run(const std::string& program, const std::vector<std::string>& args) = 0;
  // The same through pkexec, which asks for administrator rights.
  virtual std::error_code runElevated(const std::string& program,
                                      const std::vector<std::string>& args) = 0;
};

// The real one: xdg-open, posix_spawnp, /usr/bin/pkexec.
ShellLauncher& systemLauncher();
// The real one with another program in pkexec's place, for tests (the
// system launcher never looks pkexec up in PATH).
std::unique_ptr<ShellLauncher> makeSystemLauncher(const std::string& elevator);
ShellLauncher& currentLauncher();
// Makes `launcher` (nullptr: the system launcher) current and returns the
// previous one. The launcher must outlive its time as the current one.
ShellLauncher* setCurrentLauncher(ShellLauncher* launcher);

// Makes a launcher current for a scope and then restores the previous one.
class ScopedLauncher {
 public:
  explicit ScopedLauncher(ShellLauncher& launcher) : previous_(setCurrentLauncher(&launcher)) {}
  ~ScopedLauncher() { setCurrentLauncher(previous_); }
  ScopedLauncher(const ScopedLauncher&) = delete;
  ScopedLauncher& operator=(const ScopedLauncher&) = delete;

 private:
  ShellLauncher* previous_;
};

// Records requests instead of carrying them out; answers each with
// result() (success unless set).
class RecordingLauncher : public ShellLauncher {
 public:
  enum class Verb { Open, Run, RunElevated };
  struct Call {
    Verb verb;
    std::string target;  // the opened target or the program
    std::vector<std::string> args;
    bool operator==(const Call&) const = default;
  };

  std::error_code open(const std::string& target) override;
  std::error_code run(const std::string& program, const std::vector<std::string>& args) override;
  std::error_code runElevated(const std::string& program,
                              const std::vector<std::string>& args) override;

  void setResult(std::error_code result);
  std::vector<Call> calls() const;
  // Waits up to `millis` until at least `count` calls were recorded.
  bool waitForCalls(size_t count, int millis = 5000) const;

 private:
  std::error_code record(Verb verb, const std::string& target,
                         const std::vector<std::string>& args);

  mutable std::mutex mutex_;  // guards calls_ and result_
  mutable std::condition_variable changed_;
  std::vector<Call> calls_;
  std::error_code result_;
};

// The power-off command: the words of $VARNELO_POWEROFF_COMMAND (split at
// spaces and tabs, no quoting) when it has any, else "systemctl poweroff".
std::vector<std::string> powerOffCommand();
// Runs powerOffCommand() through the current launcher.
std::error_code powerOff();

}  // namespace platform
