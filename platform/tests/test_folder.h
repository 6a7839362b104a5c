// Helpers of the platform tests: a temporary folder removed afterwards, and
// an environment variable set for one test's scope.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/files.h"

namespace platform::testing {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/varnelo-platform-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    if (!path_.empty()) files::removeTree(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return files::joinPath(path_, name); }

 private:
  std::string path_;
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Polls `condition` until it holds or `millis` pass.
template <typename Condition>
bool waitFor(Condition condition, int millis = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace platform::testing
