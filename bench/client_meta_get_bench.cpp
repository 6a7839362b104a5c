// Benchmark of the service client's request path: sequential varnelo_meta_get
// calls over HTTPS against a local varnelo-service, with the per-thread
// connection kept between requests and with a fresh connection per request.
// Not a test: the figures depend on the machine.
//
//   build/bench/client_meta_get_bench [calls]   (default 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Consumer.h"
#include "ServiceProcess.h"
#include "Transport.h"
#include "varnelo/account.h"
#include "varnelo/meta.h"

namespace {

// Calls per second of `calls` sequential gets of "home"; -1 on a failure.
double run(const varnelo_credentials* credentials, int calls, bool reuse) {
  varnelo::http::set_connection_reuse(reuse);
  varnelo::http::release_thread_handle();
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) {
    varnelo_meta_get_result* result = nullptr;
    int32_t rc = varnelo_meta_get(credentials, "home", &result, nullptr, 0, 0);
    varnelo_meta_destroy_get_result(result);
    if (rc != 200) {
      std::fprintf(stderr, "call %d failed with %d\n", i, rc);
      return -1;
    }
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return calls / took.count();
}

}  // namespace

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (calls <= 0) calls = 1000;
  varnelo::test::ServiceProcess service;
  if (!service.started() || !service.addUser("bench", "bench")) {
    std::fprintf(stderr, "service did not start: %s\n", service.error().c_str());
    return 1;
  }
  service.exportEnvironment();
  setenv("USE_HTTPS", "true", 1);
  varnelo_init();

  varnelo_token_pair* token = nullptr;
  const varnelo_token_pair* consumer = &varnelo::http::client_consumer();
  if (varnelo_auth_quick_token("bench", "bench", consumer, &token, nullptr) != 200) return 1;
  varnelo_credentials* credentials = nullptr;
  varnelo_auth_combine("bench", consumer, token, &credentials);
  varnelo_destroy_inner_token(token);

  run(credentials, 20, true);  // warm-up: service caches, first handshakes
  double reused = run(credentials, calls, true);
  double fresh = run(credentials, calls, false);
  std::printf("varnelo_meta_get over HTTPS, %d sequential calls\n", calls);
  std::printf("  connection reused:          %8.1f calls/s\n", reused);
  std::printf("  new connection per request: %8.1f calls/s\n", fresh);
  if (reused > 0 && fresh > 0)
    std::printf("  speed-up from reuse:        %8.2fx\n", reused / fresh);

  varnelo_destroy_token(credentials);
  varnelo::http::release_thread_handle();
  varnelo_term();
  return reused > 0 && fresh > 0 ? 0 : 1;
}
