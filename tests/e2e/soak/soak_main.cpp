// varnelo_soak: soak runs from the command line (bench/soak runs it for
// many seeds). Prints one line per round, and the full report of a failed
// seed; exits 0 when every seed passed.
//
//   varnelo_soak --seed S [--rounds R] [--computers K] [--ops MIN-MAX]
//                [--no-faults] [--no-kills] [--pauses] [--no-case] [--no-edges]
//                [--no-mounts] [--keep] [--quiet]
//   varnelo_soak --seeds N [--first S] ...   seeds S, S+1, ..., S+N-1
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "SoakMounts.h"
#include "SoakRun.h"

namespace {

int usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s (--seed S | --seeds N [--first S]) [--rounds R] [--computers K]\n"
               "          [--ops MIN-MAX] [--timeout-s T] [--no-faults] [--no-kills]\n"
               "          [--pauses]\n"
               "          [--no-case] [--no-edges] [--no-mounts] [--keep] [--quiet]\n",
               self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  varnelo::soak::SoakOptions options;
  uint64_t first = 1, count = 1;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (arg == "--seed" && (v = value())) {
      first = std::strtoull(v, nullptr, 10);
      count = 1;
    } else if (arg == "--seeds" && (v = value())) {
      count = std::strtoull(v, nullptr, 10);
    } else if (arg == "--first" && (v = value())) {
      first = std::strtoull(v, nullptr, 10);
    } else if (arg == "--rounds" && (v = value())) {
      options.rounds = std::atoi(v);
    } else if (arg == "--computers" && (v = value())) {
      options.computers = std::atoi(v);
    } else if (arg == "--ops" && (v = value())) {
      if (std::sscanf(v, "%d-%d", &options.minOps, &options.maxOps) != 2 || options.minOps < 1 ||
          options.maxOps < options.minOps)
        return usage(argv[0]);
    } else if (arg == "--timeout-s" && (v = value())) {
      options.settleTimeoutMs = std::atoi(v) * 1000;
    } else if (arg == "--no-faults") {
      options.faults = false;
    } else if (arg == "--no-kills") {
      options.kills = false;
    } else if (arg == "--pauses") {
      options.pauses = true;
    } else if (arg == "--no-case") {
      options.caseNames = false;
    } else if (arg == "--no-edges") {
      options.edges = false;
    } else if (arg == "--no-mounts") {
      options.mounts = false;
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      return usage(argv[0]);
    }
  }
  if (!quiet) options.progress = &std::cout;
  // Still one thread here, as a new user namespace requires.
  if (options.edges && options.mounts) varnelo::soak::enterPrivateMounts(nullptr);
  std::vector<uint64_t> failed;
  for (uint64_t seed = first; seed < first + count; ++seed) {
    options.seed = seed;
    const varnelo::soak::SoakResult result = varnelo::soak::runSoak(options);
    if (result.passed) {
      std::cout << "seed " << seed << " passed" << std::endl;
    } else {
      failed.push_back(seed);
      std::cout << result.report << std::flush;
    }
  }
  std::cout << (count - failed.size()) << " of " << count << " seeds passed";
  if (!failed.empty()) {
    std::cout << "; failed:";
    for (uint64_t s : failed) std::cout << " " << s;
  }
  std::cout << std::endl;
  return failed.empty() ? 0 : 1;
}
