// A computer in a process of its own: runs one engine over the given
// folders until its standard input closes (then it releases the engine) or
// it is killed. Used by the crash-safety scenarios, and by those that run a
// computer in a mount namespace of its own, which also send it commands,
// one a line, each answered with one line on standard output:
//
//   run <shell command>   runs it here (in this process's mounts): "ran <exit code>"
//   settle <ms>           waits for a remote pass that began after the command and
//                         a quiet engine: "settled 1", or "settled 0" after <ms>
//   rescan                pauses and resumes the sync, which scans the folder: "rescanned"
//
//   varnelo_engine_child <dataFolder> <syncFolder> <user> <tokenKey> <tokenSecret>
//
// The service and the transfer settings come from the environment.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "Consumer.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/SyncState.h"

namespace {

varnelo_sync_state stateOf(varnelo::IVarnelo2* engine) {
  varnelo_sync_state s{};
  varnelo_get_sync_state2(engine, &s);
  return s;
}

bool settle(varnelo::IVarnelo2* engine, long timeoutMs) {
  const uint64_t passes = stateOf(engine).remotePasses;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const varnelo_sync_state s = stateOf(engine);
    if (s.remotePasses > passes + 1 && s.converged) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s dataFolder syncFolder user tokenKey tokenSecret\n", argv[0]);
    return 2;
  }
  const std::string data = argv[1];
  varnelo::IVarnelo2* engine = nullptr;
  if (varnelo_new2(data.c_str(), &engine) != 200 || !engine) return 1;
  const varnelo_token_pair access{argv[4], argv[5]};
  int rc = engine->login(argv[3], &varnelo::http::client_consumer(), &access);
  const std::string index = data + "/chunks.db", cache = data + "/cache";
  if (rc == 200) rc = engine->getChunkCache()->open(index.c_str(), cache.c_str());
  if (rc == 200) rc = engine->mountVolume("home", argv[2]);
  if (rc == 200) rc = engine->startSync(false);
  std::printf("started %d\n", rc);
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.rfind("run ", 0) == 0) {
      const int status = std::system(line.c_str() + 4);
      std::printf("ran %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    } else if (line.rfind("settle ", 0) == 0) {
      std::printf("settled %d\n", settle(engine, std::atol(line.c_str() + 7)) ? 1 : 0);
    } else if (line == "rescan") {
      engine->pauseSync();
      engine->resumeSync(false);
      std::printf("rescanned\n");
    } else {
      continue;
    }
    std::fflush(stdout);
  }
  engine->release();
  return rc == 200 ? 0 : 1;
}
