// A computer in a process of its own, for the crash-safety scenarios: runs
// one engine over the given folders until its standard input closes (then
// it releases the engine) or it is killed.
//
//   varnelo_engine_child <dataFolder> <syncFolder> <user> <tokenKey> <tokenSecret>
//
// The service and the transfer settings come from the environment.
#include <cstdio>
#include <string>

#include "Consumer.h"
#include "varnelo/IVarnelo2.h"

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
  while (std::getchar() != EOF) {
  }
  engine->release();
  return rc == 200 ? 0 : 1;
}
