// Runs a program to its end for the end-to-end tests (varnelocmd,
// scripts/run) with extra environment variables, capturing its standard
// output and error, and kills it when a deadline passes. Used from the
// test's main thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace varnelo::test {

struct RunResult {
  int exitCode = -1;  // -1 when it did not exit on its own (killed, or not started)
  bool timedOut = false;
  std::string out;
  std::string err;
};

// `env` entries with an empty value are removed from the child's environment.
RunResult runProgram(const std::vector<std::string>& argv,
                     const std::vector<std::pair<std::string, std::string>>& env, int timeoutMs);

}  // namespace varnelo::test
