// Transfer throughput against a local varnelo-service: upload and download of
// 2,000 files of 4 KiB and of one 256 MiB file, through the same upload and
// download paths the sync thread uses, in files per second and MB/s, with the
// SHA-1 throughput of this machine beside them (every byte sent or fetched is
// hashed once). Not a test: figures depend on the machine.
//
//   build/bench/transfer_bench [--https] [--big-mib N] [--files N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Consumer.h"
#include "Digest.h"
#include "ServiceProcess.h"
#include "transfer_pc.h"
#include "varnelo/account.h"

using namespace varnelo;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double sha1MegabytesPerSecond() {
  const size_t total = 256u << 20, chunk = 4u << 20;
  std::string buffer = e2e::patternBytes(chunk, 1);
  auto start = Clock::now();
  uint8_t sink = 0;
  for (size_t done = 0; done < total; done += chunk) sink ^= sha1Of(buffer.data(), chunk)[0];
  const double s = secondsSince(start);
  return sink == 0xFF + 1 ? 0 : (total / 1e6) / s;  // `sink` keeps the loop alive
}

void report(const char* what, size_t files, uint64_t bytes, double seconds) {
  std::printf("%-34s %8.2f s %10.1f files/s %9.1f MB/s\n", what, seconds, files / seconds,
              (bytes / 1e6) / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  bool https = false;
  size_t bigMiB = 256, fileCount = 2000;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--https")) https = true;
    if (!std::strcmp(argv[i], "--big-mib") && i + 1 < argc) bigMiB = std::strtoul(argv[++i], 0, 10);
    if (!std::strcmp(argv[i], "--files") && i + 1 < argc)
      fileCount = std::strtoul(argv[++i], 0, 10);
  }
  test::ServiceProcess service;
  if (!service.started()) {
    std::fprintf(stderr, "service did not start: %s\n", service.error().c_str());
    return 1;
  }
  service.exportEnvironment();
  https ? setenv("USE_HTTPS", "true", 1) : unsetenv("USE_HTTPS");
  if (!service.addUser("bench", "pw", "native", "active", int64_t{100} << 30)) return 1;
  varnelo_token_pair* token = nullptr;
  if (varnelo_auth_quick_token("bench", "pw", &http::client_consumer(), &token, nullptr) != 200)
    return 1;
  varnelo_credentials* credentials = nullptr;
  varnelo_auth_combine("bench", &http::client_consumer(), token, &credentials);
  varnelo_destroy_inner_token(token);

  std::printf("transport: %s, chunk size 4 MiB, 4 I/O threads\n", https ? "HTTPS" : "HTTP");
  std::printf("%-34s %34.1f MB/s\n", "SHA-1 on this machine", sha1MegabytesPerSecond());
  {
    e2e::Pc a(credentials, 4u << 20), b(credentials, 4u << 20);
    const std::string content = e2e::patternBytes(4096, 2);
    for (size_t i = 0; i < fileCount; ++i) {
      // Each file differs, so every one is really sent.
      std::string bytes = content;
      std::memcpy(bytes.data(), &i, sizeof i);
      a.write("small/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".bin", bytes);
    }
    auto start = Clock::now();
    a.push();
    report((std::to_string(fileCount) + " x 4 KiB upload").c_str(), fileCount, fileCount * 4096,
           secondsSince(start));
    start = Clock::now();
    b.pull();
    report((std::to_string(fileCount) + " x 4 KiB download").c_str(), fileCount, fileCount * 4096,
           secondsSince(start));
  }
  {
    e2e::Pc a(credentials, 4u << 20), b(credentials, 4u << 20);
    const uint64_t size = uint64_t{bigMiB} << 20;
    a.write("big.bin", e2e::patternBytes(size, 3));
    auto start = Clock::now();
    a.push();
    report((std::to_string(bigMiB) + " MiB file upload").c_str(), 1, size, secondsSince(start));
    start = Clock::now();
    b.pull();
    report((std::to_string(bigMiB) + " MiB file download").c_str(), 1, size, secondsSince(start));
    std::string got;
    platform::files::readFile(b.path("big.bin"), got);
    if (got.size() != size) std::printf("warning: download incomplete (%zu bytes)\n", got.size());
  }
  varnelo_destroy_token(credentials);
  return 0;
}
