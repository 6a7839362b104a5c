// What the file manager waits for when it shows a folder: the emblem
// lookups of the extension's implementation over a statecache.db of 10,000
// files (written by the application's FileStateCache). Reports the first
// look at every file (each answer from SQLite), the five overlays' asks per
// file (from the cache), and the same right after the application changed
// one state (the cache starts over). Not a test: run it by hand on an idle
// machine.
//
//   shellproc_bench
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "FileStateCache.h"
#include "Objects.h"
#include "StateReader.h"
#include "platform/files.h"

using Clock = std::chrono::steady_clock;
using varnelo::shellproc::StateReader;

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kOverlays = 5;

void pass(const char* what, StateReader& reader, const std::vector<std::string>& paths, int asks) {
  const auto start = Clock::now();
  const std::clock_t cpuStart = std::clock();
  int found = 0;
  for (const std::string& p : paths) {
    for (int o = 0; o < asks; ++o) {
      if (reader.shownState(StateReader::normalise(p, false))) ++found;
    }
  }
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  // CPU time as well: on a shared machine the wall clock includes waiting.
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  const double calls = static_cast<double>(paths.size()) * asks;
  std::printf("%-36s %6.0f lookups  wall %6.3f s  cpu %6.3f s  %6.2f us cpu each  (%d found)\n",
              what, calls, s, cpu, cpu * 1e6 / calls, found);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/shellproc-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  namespace files = platform::files;
  std::vector<std::string> paths;
  varnelo::desktop::FileStateCache cache;
  if (!cache.open(dir + "/statecache.db")) return 1;
  cache.addRoot(dir + "/sync");
  cache.setRunning(true);
  {
    varnelo::desktop::FileStateCache::Batch batch(cache);
    for (int f = 0; f < kFolders; ++f) {
      const std::string folder = dir + "/sync/Folder" + std::to_string(f);
      files::createDirectories(folder);
      for (int i = 0; i < kFilesPerFolder; ++i) {
        paths.push_back(folder + "/File" + std::to_string(i) + ".dat");
        files::writeFile(paths.back(), "x");
        cache.apply(paths.back(), i % 3 == 0 ? 1 : 0);
      }
    }
  }
  StateReader reader(dir + "/statecache.db");
  pass("first look at each file (SQLite)", reader, paths, 1);
  pass("five overlays per file (cache)", reader, paths, kOverlays);
  cache.apply(paths.front(), 16);
  std::this_thread::sleep_for(2 * StateReader::kCheckInterval);  // past the next change check
  pass("after a change (cache starts over)", reader, paths, kOverlays);
  files::removeTree(dir);
  return 0;
}
