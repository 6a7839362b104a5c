// Another process holding the extension, for the pipe tests: serves the
// first free pipe number with the implementation at argv[1], prints
// "number N" once it serves one, "loaded" / "unloaded" as the
// implementation comes and goes, and stops when its standard input closes.
#include <unistd.h>

#include <cstdio>

#include "PipeServer.h"
#include "ShellExtState.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using namespace varnelo::shellext;
  ShellExtState& state = processState();
  state.setImplementationPath(argv[1]);
  state.setObserver([](bool loaded) {
    std::printf("%s\n", loaded ? "loaded" : "unloaded");
    std::fflush(stdout);
  });
  PipeServer pipe(state);
  pipe.start();
  while (!pipe.ready()) usleep(1000);
  std::printf("number %d\n", pipe.number());
  std::fflush(stdout);
  char c;
  while (::read(0, &c, 1) > 0) {
  }
  pipe.stop();
  return 0;
}
