// One computer of a soak run: a sync folder, an engine data folder and the
// engine itself in a child process (varnelo_soak_child), so that the run can
// SIGKILL it at any moment and start it again over the same folders. Beside
// the two folders it keeps a staging folder and a trash folder on the same
// file system, which the workload uses for atomic writes and deletions.
// Used from the run's thread only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnelo::soak {

struct EngineState {
  bool running = false;
  bool paused = false;
  uint64_t localScans = 0;
  uint64_t remotePasses = 0;
  uint64_t queued = 0;
  uint64_t retrying = 0;
  uint64_t inFlight = 0;
  bool converged = false;
  bool folderUnavailable = false;  // -120 / -122: the engine holds everything
  uint64_t heldDeletions = 0;      // -123: held until confirmed
};

class SoakComputer {
 public:
  // `nesting` ("" or "/a/b") puts the sync folder that much deeper below
  // the computer's folder, for paths that fit one computer and not another.
  SoakComputer(int index, const std::string& baseDir, std::string user, std::string key,
               std::string secret, const std::string& nesting = "");
  ~SoakComputer();
  SoakComputer(const SoakComputer&) = delete;
  SoakComputer& operator=(const SoakComputer&) = delete;

  int index() const { return index_; }
  const std::string& root() const { return root_; }
  // The computer's own folder, which holds the sync folder and the others.
  const std::string& home() const { return home_; }
  const std::string& dataFolder() const { return data_; }
  const std::string& stage() const { return stage_; }
  const std::string& trash() const { return trash_; }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }

  // Starts the engine process and waits for its "started" line; false with
  // the reason in error() when it does not come or the start failed.
  bool start();
  // SIGKILL, then reaps the process. Nothing happens when it is not running.
  void kill();
  // Closes the engine's input (it releases the engine and exits); kills it
  // when it has not exited within the deadline.
  void stop();
  bool running() const { return pid_ > 0; }
  // Pauses the running engine, or resumes it (`recheckAll`: every folder is
  // listed again); false when it does not answer 200. A process started
  // again runs unpaused.
  bool pause();
  bool resume(bool recheckAll);
  bool paused() const { return running() && paused_; }
  // Makes `serverFolder` ("home/a b") the running engine's only excluded
  // folder, or clears the list when it is empty; false when it does not
  // answer 200.
  bool exclude(const std::string& serverFolder);
  // The running engine's state; false when the process does not answer.
  bool state(EngineState* out);

  const std::string& error() const { return error_; }
  // The last `count` lines of the engine's event log.
  std::vector<std::string> eventTail(size_t count) const;
  // Local paths (relative to the root) whose latest result since the
  // engine's latest start was -113.
  std::vector<std::string> unsupportedPaths() const;

 private:
  bool readLine(std::string* line, int timeoutMs);
  // Sends one command line and reads its answer; true on "ok 200".
  bool command(const std::string& text);
  void closePipes();

  int index_;
  std::string home_, root_, data_, stage_, trash_;
  std::string user_, key_, secret_;
  pid_t pid_ = -1;
  bool paused_ = false;  // of the running process
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;  // bytes read from the child after the last full line
  std::string error_;
};

}  // namespace varnelo::soak
