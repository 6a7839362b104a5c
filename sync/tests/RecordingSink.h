// An event sink that records every report as one line of text, for tests.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "varnelo/IVarneloEvent.h"

namespace varnelo::test {

class RecordingSink : public IVarneloEvent {
 public:
  void downloaded(const char* p) override { add("downloaded " + std::string(p)); }
  void uploaded(const char* p) override { add("uploaded " + std::string(p)); }
  void statusChanged(int32_t s) override { add("state " + std::to_string(s)); }
  void fileStateChanged(const char* p, int32_t s) override {
    add("file " + std::string(p) + " " + std::to_string(s));
  }
  void result(int32_t code, const char* p) override {
    add("result " + std::to_string(code) + " " + (p ? p : "-"));
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool has(const std::string& line) const {
    auto all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  void add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  mutable std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};

}  // namespace varnelo::test
