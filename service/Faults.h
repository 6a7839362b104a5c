// Deterministic fault injection: per endpoint, rates of 500 replies, of
// connections dropped in the middle of the reply body, of added delay and of
// one flipped byte in data bodies. The n-th request to an endpoint gets the
// same decision for the same seed, whatever the timing, so a test can repeat
// a run exactly. Plans are set from --faults or the admin API; safe from any
// thread (one lock guards the plan and the per-endpoint counters).
//
// Plan text: "seed=42;/get:error=0.1,drop=0.05;/data:flip=1;*:delay=0.5,delayMs=20"
// ("*" applies to endpoints without their own rule; an empty text clears).
// A rule for "<endpoint>@<path>" (say "/get@home/a/B") applies only to the
// requests whose path member is exactly that path (a leading "/" aside),
// and only its error rate is used: one entry can fail while the rest of the
// tree answers.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace varnelo::service {

struct FaultRule {
  double error = 0;  // rate of 500 replies
  double drop = 0;   // rate of replies cut in the middle of the body
  double delay = 0;  // rate of delayed replies
  int delayMs = 100;
  double flip = 0;  // rate of one flipped byte in data bodies
};

struct FaultDecision {
  bool error = false;
  bool drop = false;
  bool flip = false;
  int delayMs = 0;
  uint64_t position = 0;  // picks the byte to flip or the cut point
};

class FaultInjector {
 public:
  // Replaces the plan and restarts the request counters; false (with a
  // reason) for malformed text, leaving the old plan in place.
  bool configure(const std::string& text, std::string* error);
  std::string describe();
  FaultDecision decide(const std::string& endpoint);
  // True when a rule for `endpoint` and the request's `path` says this one
  // fails (the routes ask after reading the body).
  bool failsPath(const std::string& endpoint, const std::string& path);

 private:
  // Guards everything below.
  std::mutex mutex_;
  uint64_t seed_ = 0;
  std::map<std::string, FaultRule> rules_;
  std::map<std::string, uint64_t> counts_;
  std::string text_;
};

}  // namespace varnelo::service
