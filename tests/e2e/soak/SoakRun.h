// One soak run: a fresh varnelo-service, one account, two or three
// computers whose engines run in child processes, and a number of rounds.
// In each round random operations hit every computer's folder while service
// faults are on and engines are killed (SIGKILL) and started again at
// random moments; then the faults stop, every engine runs, and the round
// passes when
//  - every computer agrees with the service (SoakTree.h says what that
//    means) and stays so for two more remote passes of every engine,
//  - every content written in the run and not destroyed by a user who had
//    it in front of them is on the service (as the file or as a conflicted
//    copy) or in a local entry the engine reported unsupported,
//  - no file holds bytes that nobody wrote (torn or corrupted transfers),
//  - every name on the service is one the workload used, or a conflicted
//    copy of one.
// Everything random comes from the seed, so a failing seed can be run again
// (the timing of the engines' own threads cannot be replayed, so a failure
// that depends on it may need a few runs). Call from one thread; the
// service's death signal is tied to it.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace varnelo::soak {

struct SoakOptions {
  uint64_t seed = 1;
  int computers = 0;  // 0: two or three, drawn from the seed
  int rounds = 3;
  int minOps = 8;
  int maxOps = 20;
  bool faults = true;
  bool kills = true;
  // Engines paused and resumed at random moments (drawn apart from the
  // rest, so a seed's operations, faults and kills stay as they were).
  bool pauses = false;
  bool caseNames = true;  // case twins and case-only renames
  // The edge cases of SoakEdges.h between the operations, and among them a
  // mount that goes away where the process could enterPrivateMounts().
  bool edges = true;
  bool mounts = true;
  int settleTimeoutMs = 120000;      // per round, after the faults stop
  bool keep = false;                 // keep the work folder (always named in the report)
  std::ostream* progress = nullptr;  // one line per round when set
};

struct SoakResult {
  bool passed = false;
  int roundsPassed = 0;
  std::string report;  // why it failed, the operations, the engines' last events
};

SoakResult runSoak(const SoakOptions& options);

// The options as a command line of varnelo_soak, for the replay line.
std::string describe(const SoakOptions& options);

}  // namespace varnelo::soak
