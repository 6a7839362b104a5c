#include "Faults.h"

#include <cstdlib>
#include <sstream>

namespace varnelo::service {
namespace {
uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}
uint64_t hashText(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  return h;
}
double unit(uint64_t x) {
  return static_cast<double>(x >> 11) / 9007199254740992.0;
}

bool parseNumber(const std::string& text, double* out) {
  char* end = nullptr;
  double v = strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || v < 0) return false;
  *out = v;
  return true;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\n"), e = s.find_last_not_of(" \t\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}
}  // namespace

bool FaultInjector::configure(const std::string& text, std::string* error) {
  uint64_t seed = 0;
  std::map<std::string, FaultRule> rules;
  std::stringstream sections(text);
  std::string section;
  while (std::getline(sections, section, ';')) {
    section = trim(section);
    if (section.empty()) continue;
    if (section.rfind("seed=", 0) == 0) {
      char* end = nullptr;
      seed = strtoull(section.c_str() + 5, &end, 10);
      if (*end != '\0') return *error = "bad seed: " + section, false;
      continue;
    }
    size_t colon = section.find(':');
    if (colon == std::string::npos) return *error = "missing ':' in " + section, false;
    std::string endpoint = trim(section.substr(0, colon));
    FaultRule rule;
    std::stringstream items(section.substr(colon + 1));
    std::string item;
    while (std::getline(items, item, ',')) {
      item = trim(item);
      size_t eq = item.find('=');
      double v = 0;
      if (eq == std::string::npos || !parseNumber(item.substr(eq + 1), &v)) {
        return *error = "bad item: " + item, false;
      }
      std::string name = item.substr(0, eq);
      if (name == "error") {
        rule.error = v;
      } else if (name == "drop") {
        rule.drop = v;
      } else if (name == "delay") {
        rule.delay = v;
      } else if (name == "delayMs") {
        rule.delayMs = static_cast<int>(v);
      } else if (name == "flip") {
        rule.flip = v;
      } else {
        return *error = "unknown fault: " + name, false;
      }
    }
    rules[endpoint] = rule;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  seed_ = seed;
  rules_ = std::move(rules);
  counts_.clear();
  text_ = text;
  return true;
}

std::string FaultInjector::describe() {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

FaultDecision FaultInjector::decide(const std::string& endpoint) {
  FaultDecision d;
  std::lock_guard<std::mutex> lock(mutex_);
  if (rules_.empty()) return d;
  auto it = rules_.find(endpoint);
  if (it == rules_.end()) it = rules_.find("*");
  if (it == rules_.end()) return d;
  const FaultRule& rule = it->second;
  uint64_t n = counts_[endpoint]++;
  uint64_t base = mix(seed_ ^ hashText(endpoint) ^ mix(n));
  d.error = unit(mix(base ^ 1)) < rule.error;
  d.drop = !d.error && unit(mix(base ^ 2)) < rule.drop;
  d.delayMs = unit(mix(base ^ 3)) < rule.delay ? rule.delayMs : 0;
  d.flip = unit(mix(base ^ 4)) < rule.flip;
  d.position = mix(base ^ 5);
  return d;
}

bool FaultInjector::failsPath(const std::string& endpoint, const std::string& path) {
  const std::string key = endpoint + "@" + (path.rfind('/', 0) == 0 ? path.substr(1) : path);
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = rules_.find(key);
  if (it == rules_.end()) return false;
  const uint64_t n = counts_[key]++;
  return unit(mix(mix(seed_ ^ hashText(key) ^ mix(n)) ^ 1)) < it->second.error;
}

}  // namespace varnelo::service
