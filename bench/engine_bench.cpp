// The running engine against a local varnelo-service: how long a local change
// takes to reach the service (median and 95th percentile over 100 edits of
// one file, each waited for before the next, and over 20 each of new files,
// renames, deletes and new folders), and the engine's CPU use while idle
// over 60 s with 10,000 files in its folder. Not a test: figures depend on
// the machine.
//
//   build/bench/engine_bench [--edits N] [--files N] [--idle-seconds N]
#include <openssl/sha.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Consumer.h"
#include "ServiceProcess.h"
#include "platform/files.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/SyncState.h"
#include "varnelo/account.h"

using namespace varnelo;
using Clock = std::chrono::steady_clock;

namespace {

std::string sha1Hex(const std::string& bytes) {
  unsigned char d[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) out += {hex[c >> 4], hex[c & 15]};
  return out;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// SHA-1 of the remote "home/<name>", or "" when absent.
std::string remoteSha1(test::ServiceProcess& service, const std::string& user,
                       const std::string& path) {
  Json::Value dump;
  if (!service.dumpTree(user, &dump)) return "";
  for (const auto& e : dump["entries"]) {
    if (e["path"].asString() == path) return e["sha1"].asString();
  }
  return "";
}

int64_t remoteCount(test::ServiceProcess& service, const std::string& user) {
  Json::Value dump;
  return service.dumpTree(user, &dump) ? static_cast<int64_t>(dump["entries"].size()) : -1;
}

// Median, 95th percentile and maximum of `ms` (sorted here).
void reportLatency(const char* what, std::vector<double>& ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::printf("%-12s x%-4zu median %5.0f ms   p95 %5.0f ms   max %5.0f ms\n", what, ms.size(),
              ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back());
}

// Makes a change, then polls the service until `arrived` holds (30 s at most).
template <class Change, class Arrived>
double timeChange(Change change, Arrived arrived) {
  // A pause of 0 to 499 ms first, so that changes do not fall in step with
  // the idle loop (each would otherwise come just after a pass).
  static unsigned seed = 12345;
  seed = seed * 1103515245 + 12345;
  std::this_thread::sleep_for(std::chrono::milliseconds((seed >> 16) % 500));
  const auto began = Clock::now();
  change();
  while (!arrived()) {
    if (Clock::now() - began > std::chrono::seconds(30)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - began).count();
}

struct Engine {
  IVarnelo2* engine = nullptr;
  ~Engine() {
    if (engine) engine->release();
  }
};

}  // namespace

int main(int argc, char** argv) {
  int edits = 100, files = 10000, idleSeconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--edits")) edits = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--files")) files = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--idle-seconds")) idleSeconds = std::atoi(argv[i + 1]);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  test::ServiceProcess service;
  if (!service.started()) {
    std::fprintf(stderr, "service: %s\n", service.error().c_str());
    return 1;
  }
  service.exportEnvironment();
  const std::string user = "bench";
  service.addUser(user, "pw");
  varnelo_token_pair* token = nullptr;
  if (varnelo_auth_quick_token(user.c_str(), "pw", &http::client_consumer(), &token, nullptr) !=
      200) {
    return 1;
  }
  char dataTemplate[] = "/tmp/varnelo-engine-bench-XXXXXX";
  const std::string base = mkdtemp(dataTemplate);
  const std::string data = base + "/data/", root = base + "/Sync";
  platform::files::createDirectories(data);
  platform::files::createDirectories(root);

  Engine e;
  varnelo_new2(data.c_str(), &e.engine);
  e.engine->login(user.c_str(), &http::client_consumer(), token);
  varnelo_destroy_inner_token(token);
  e.engine->getChunkCache()->open((data + "chunks.db").c_str(), (data + "cache").c_str());
  e.engine->mountVolume("home", root.c_str());
  if (e.engine->startSync(false) != 200) return 1;
  auto waitConverged = [&] {
    varnelo_sync_state state{};
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      varnelo_get_sync_state2(e.engine, &state);
    } while (!state.converged);
  };
  waitConverged();

  // Change to service, measured while the account is small (each poll
  // dumps the account's tree). Files are written beside and moved in.
  const std::string temp = base + "/incoming";
  auto has = [&](const std::string& path, const std::string& sha1) {
    return remoteSha1(service, user, "home/" + path) == sha1;
  };
  std::vector<double> edited, created, renamed, removed, folders;
  for (int i = 0; i < edits; ++i) {
    const std::string content = "edit number " + std::to_string(i);
    platform::files::writeFile(temp, content);
    edited.push_back(timeChange([&] { platform::files::rename(temp, root + "/edited.txt"); },
                                [&] { return has("edited.txt", sha1Hex(content)); }));
  }
  const int rounds = std::max(1, edits / 5);
  for (int i = 0; i < rounds; ++i) {
    const std::string n = std::to_string(i), content = "new file " + n;
    platform::files::writeFile(temp, content);
    created.push_back(timeChange([&] { platform::files::rename(temp, root + "/new" + n); },
                                 [&] { return has("new" + n, sha1Hex(content)); }));
    renamed.push_back(
        timeChange([&] { platform::files::rename(root + "/new" + n, root + "/moved" + n); },
                   [&] { return has("moved" + n, sha1Hex(content)) && has("new" + n, ""); }));
    removed.push_back(timeChange([&] { platform::files::removeFile(root + "/moved" + n); },
                                 [&] { return has("moved" + n, ""); }));
    folders.push_back(timeChange([&] { platform::files::createDirectory(root + "/dir" + n); },
                                 [&] {
                                   Json::Value dump;
                                   if (!service.dumpTree(user, &dump)) return false;
                                   for (const auto& entry : dump["entries"]) {
                                     if (entry["path"].asString() == "home/dir" + n) return true;
                                   }
                                   return false;
                                 }));
  }
  std::printf("change to service (the idle loop wakes on a queued change):\n");
  reportLatency("edit", edited);
  reportLatency("new file", created);
  reportLatency("rename", renamed);
  reportLatency("delete", removed);
  reportLatency("new folder", folders);

  // Idle with many files: the engine's own process time (the service runs
  // in another process), at the default remote poll interval.
  auto start = Clock::now();
  for (int i = 0; i < files; ++i) {
    const std::string folder = root + "/tree/f" + std::to_string(i / 100);
    if (i % 100 == 0) platform::files::createDirectories(folder);
    platform::files::writeFile(folder + "/n" + std::to_string(i) + ".txt",
                               "file " + std::to_string(i));
  }
  while (remoteCount(service, user) < files) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  waitConverged();
  std::printf("%d files written and uploaded: %.1f s\n", files,
              std::chrono::duration<double>(Clock::now() - start).count());
  varnelo_sync_state state{};
  varnelo_get_sync_state2(e.engine, &state);
  const uint64_t passes = state.remotePasses;
  const double cpuBefore = cpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double cpu = cpuSeconds() - cpuBefore;
  std::printf("idle over %d s with %d files: %.3f s CPU (%.2f%% of one core)\n", idleSeconds, files,
              cpu, 100.0 * cpu / idleSeconds);
  // The first poll after the upload lists every folder again (their
  // versions changed with the engine's own uploads). Once it has run there
  // is nothing left to do: that is the engine at rest.
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    varnelo_get_sync_state2(e.engine, &state);
  } while (state.remotePasses == passes);
  waitConverged();
  const double restBefore = cpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double rest = cpuSeconds() - restBefore;
  std::printf("idle over %d s after the first poll: %.3f s CPU (%.3f%% of one core)\n", idleSeconds,
              rest, 100.0 * rest / idleSeconds);
  e.engine->release();
  e.engine = nullptr;
  platform::files::removeTree(base);
  return 0;
}
