// Writes a statecache.db the way the application does (through its own
// FileStateCache), for looking at the extension in a real file manager:
//
//   varnelo-statecache-demo DB ROOT [PATH=STATE ...]
//
// ROOT becomes the sync folder, the application counts as running, and
// each PATH (below ROOT) gets its STATE (0 in step, 1/2 syncing, 4 in use,
// 16 conflicted, 256 failed). Used by scripts/nautilus-screenshots.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FileStateCache.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s DB ROOT [PATH=STATE ...]\n", argv[0]);
    return 2;
  }
  varnelo::desktop::FileStateCache cache;
  if (!cache.open(argv[1])) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  cache.addRoot(argv[2]);
  for (int i = 3; i < argc; ++i) {
    std::string pair = argv[i];
    size_t eq = pair.rfind('=');
    if (eq == std::string::npos) {
      fprintf(stderr, "not PATH=STATE: %s\n", argv[i]);
      return 2;
    }
    cache.apply(pair.substr(0, eq), atoi(pair.c_str() + eq + 1));
  }
  cache.setRunning(true);
  return 0;
}
