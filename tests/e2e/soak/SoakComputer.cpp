#include "SoakComputer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace varnelo::soak {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartTimeoutMs = 60000;
constexpr int kStateTimeoutMs = 20000;
constexpr int kStopTimeoutMs = 60000;

void makeFolder(const std::string& path) {
  ::mkdir(path.c_str(), 0700);
}

}  // namespace

SoakComputer::SoakComputer(int index, const std::string& baseDir, std::string user, std::string key,
                           std::string secret, const std::string& nesting)
    : index_(index), user_(std::move(user)), key_(std::move(key)), secret_(std::move(secret)) {
  const std::string dir = baseDir + "/pc" + std::to_string(index);
  makeFolder(dir);
  home_ = dir;
  std::error_code ec;
  std::filesystem::create_directories(dir + nesting, ec);
  root_ = dir + nesting + "/Sync";
  data_ = dir + "/data";
  stage_ = dir + "/stage";
  trash_ = dir + "/trash";
  for (const std::string* folder : {&root_, &data_, &stage_, &trash_}) makeFolder(*folder);
}

SoakComputer::~SoakComputer() {
  stop();
}

bool SoakComputer::start() {
  if (running()) return true;
  error_.clear();
  pending_.clear();
  paused_ = false;
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  std::vector<std::string> args{VARNELO_SOAK_CHILD, data_, root_, user_, key_, secret_};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string errPath = data_ + "/child.stderr";
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The engine must not outlive a run that died.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    dup2(in[0], 0);
    dup2(out[1], 1);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (err >= 0) dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
  if (pid_ < 0) {
    closePipes();
    error_ = "fork failed";
    return false;
  }
  std::string line;
  if (!readLine(&line, kStartTimeoutMs)) {
    error_ = "pc" + std::to_string(index_) + ": no start line from the engine process";
    kill();
    return false;
  }
  if (line != "started 200") {
    error_ = "pc" + std::to_string(index_) + ": " + line;
    kill();
    return false;
  }
  return true;
}

void SoakComputer::kill() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  closePipes();
}

void SoakComputer::stop() {
  if (pid_ <= 0) return;
  close(toChild_);
  toChild_ = -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
  int status = 0;
  while (Clock::now() < deadline) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
      pid_ = -1;
      closePipes();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // polling a child's exit
  }
  kill();
}

void SoakComputer::closePipes() {
  if (toChild_ >= 0) close(toChild_);
  if (fromChild_ >= 0) close(fromChild_);
  toChild_ = fromChild_ = -1;
}

bool SoakComputer::readLine(std::string* line, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      *line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || fromChild_ < 0) return false;
    pollfd p{fromChild_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[512];
    const ssize_t n = read(fromChild_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool SoakComputer::command(const std::string& text) {
  if (!running()) return false;
  const std::string line = text + "\n";
  if (write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
  std::string answer;
  return readLine(&answer, kStateTimeoutMs) && answer == "ok 200";
}

bool SoakComputer::pause() {
  if (!command("pause")) return false;
  paused_ = true;
  return true;
}

bool SoakComputer::resume(bool recheckAll) {
  if (!command(recheckAll ? "resume-all" : "resume")) return false;
  paused_ = false;
  return true;
}

bool SoakComputer::exclude(const std::string& serverFolder) {
  return command(serverFolder.empty() ? "exclude" : "exclude " + serverFolder);
}

bool SoakComputer::state(EngineState* out) {
  if (!running()) return false;
  static const char kCommand[] = "state\n";
  if (write(toChild_, kCommand, sizeof kCommand - 1) != sizeof kCommand - 1) return false;
  std::string line;
  if (!readLine(&line, kStateTimeoutMs)) return false;
  std::istringstream in(line);
  std::string word;
  int running = 0, paused = 0, converged = 0, unavailable = 0;
  in >> word >> running >> paused >> out->localScans >> out->remotePasses >> out->queued >>
      out->retrying >> out->inFlight >> converged >> unavailable >> out->heldDeletions;
  if (!in || word != "state") return false;
  out->running = running != 0;
  out->paused = paused != 0;
  out->converged = converged != 0;
  out->folderUnavailable = unavailable != 0;
  return true;
}

std::vector<std::string> SoakComputer::eventTail(size_t count) const {
  std::ifstream in(data_ + "/events.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (line == "result 200 -") continue;  // a remote pass; there is one every poll
    lines.push_back(line);
    if (lines.size() > count) lines.erase(lines.begin());
  }
  return lines;
}

std::vector<std::string> SoakComputer::unsupportedPaths() const {
  // "result <code> <path>": the latest result of each path decides, from
  // the engine's latest start on. A new engine reports again whatever it
  // still refuses (its first scan walks everything); what an earlier one
  // refused may have taken part since without that one seeing it.
  std::ifstream in(data_ + "/events.log");
  std::map<std::string, bool> latest;
  const std::string prefix = root_ + "/";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("begin ", 0) == 0) latest.clear();
    if (line.rfind("result ", 0) != 0) continue;
    const size_t space = line.find(' ', 7);
    if (space == std::string::npos) continue;
    const std::string path = line.substr(space + 1);
    if (path.rfind(prefix, 0) != 0) continue;
    latest[path.substr(prefix.size())] = line.compare(7, space - 7, "-113") == 0;
  }
  std::vector<std::string> out;
  for (const auto& [path, unsupported] : latest) {
    if (unsupported) out.push_back(path);
  }
  return out;
}

}  // namespace varnelo::soak
