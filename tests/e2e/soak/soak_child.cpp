// One computer of the soak run in a process of its own, so that the run can
// kill it with SIGKILL at any moment and start it again over the same
// folders. It runs one engine and answers commands read from its standard
// input, one per line:
//
//   state      -> "state <running> <paused> <localScans> <remotePasses>
//                  <queued> <retrying> <inFlight> <converged>
//                  <folderUnavailable> <heldDeletions>"
//   pause      -> "ok <code>" (pauseSync)
//   resume     -> "ok <code>" (resumeSync without a recheck of everything)
//   resume-all -> "ok <code>" (resumeSync with one)
//   exclude [F] -> "ok <code>" (setExcludeDirs: F alone, or none)
//   (EOF)      -> releases the engine and exits 0
//
// Every report of the engine's event sink is appended to <dataFolder>/events.log
// for the failure report, after a line "begin 0 -" for each start of the
// process (an engine reports what it refuses anew in every run).
//
//   varnelo_soak_child <dataFolder> <syncFolder> <user> <tokenKey> <tokenSecret>
//
// The service and the engine's test settings come from the environment.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "Consumer.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/IVarneloEvent.h"
#include "varnelo/SyncState.h"

namespace {

// Writes each report as one line, flushed, so a SIGKILL loses nothing
// already reported. Called on the engine's threads.
class EventLog : public varnelo::IVarneloEvent {
 public:
  explicit EventLog(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {}
  ~EventLog() {
    if (file_) std::fclose(file_);
  }
  void downloaded(const char* p) override { line("downloaded", 0, p); }
  void uploaded(const char* p) override { line("uploaded", 0, p); }
  void statusChanged(int32_t s) override { line("state", s, nullptr); }
  void fileStateChanged(const char* p, int32_t s) override { line("file", s, p); }
  void result(int32_t code, const char* p) override { line("result", code, p); }
  void begin() { line("begin", 0, nullptr); }

 private:
  void line(const char* what, int32_t value, const char* path) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fprintf(file_, "%s %d %s\n", what, value, path ? path : "-");
    std::fflush(file_);
  }
  std::mutex mutex_;  // keeps lines from different threads whole
  std::FILE* file_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s dataFolder syncFolder user tokenKey tokenSecret\n", argv[0]);
    return 2;
  }
  const std::string data = argv[1];
  EventLog events(data + "/events.log");
  events.begin();
  varnelo::IVarnelo2* engine = nullptr;
  if (varnelo_new2(data.c_str(), &engine) != 200 || !engine) return 1;
  engine->setEventSink(&events);
  const varnelo_token_pair access{argv[4], argv[5]};
  // The service may be failing requests on purpose: sign in again, as the
  // application's login thread does, for a while.
  int rc = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    rc = engine->login(argv[3], &varnelo::http::client_consumer(), &access);
    if (rc == 200 || rc == 401) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const std::string index = data + "/chunks.db", cache = data + "/cache";
  if (rc == 200) rc = engine->getChunkCache()->open(index.c_str(), cache.c_str());
  if (rc == 200) rc = engine->mountVolume("home", argv[2]);
  for (int attempt = 0; rc == 200 && attempt < 100; ++attempt) {
    // startSync asks the service first; that too may fail on purpose.
    const int started = engine->startSync(false);
    if (started == 200 || started == 401 || attempt == 99) {
      rc = started;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::printf("started %d\n", rc);
  std::fflush(stdout);
  char command[1024];
  while (std::fgets(command, sizeof command, stdin)) {
    if (std::string(command) == "state\n") {
      varnelo_sync_state s{};
      varnelo_get_sync_state2(engine, &s);
      varnelo_sync_holds h{};
      varnelo_get_sync_holds2(engine, &h);
      std::printf("state %d %d %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64
                  " %d %d %" PRIu64 "\n",
                  s.running, s.paused, s.localScans, s.remotePasses, s.queued, s.retrying,
                  s.inFlight, s.converged, h.folderUnavailable, h.heldDeletions);
    } else if (std::string(command) == "pause\n") {
      std::printf("ok %d\n", engine->pauseSync());
    } else if (std::string(command) == "resume\n" || std::string(command) == "resume-all\n") {
      std::printf("ok %d\n", engine->resumeSync(std::string(command) == "resume-all\n"));
    } else if (std::string(command).rfind("exclude", 0) == 0) {
      std::string folder = std::string(command).substr(7);
      if (!folder.empty() && folder.back() == '\n') folder.pop_back();
      if (!folder.empty() && folder[0] == ' ') folder.erase(0, 1);
      const char* dirs[] = {folder.c_str()};
      std::printf("ok %d\n", engine->setExcludeDirs(dirs, folder.empty() ? 0 : 1));
    } else {
      std::printf("unknown\n");
    }
    std::fflush(stdout);
  }
  engine->release();
  return rc == 200 ? 0 : 1;
}
