// Sets environment variables for one test and restores the previous values
// when it ends, so tests do not leak settings into each other.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace varnelo::test {

class EnvGuard {
 public:
  EnvGuard() = default;
  ~EnvGuard() {
    for (auto& [name, old] : saved_) {
      if (old)
        setenv(name.c_str(), old->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

  void set(const std::string& name, const std::string& value) {
    remember(name);
    setenv(name.c_str(), value.c_str(), 1);
  }
  void unset(const std::string& name) {
    remember(name);
    unsetenv(name.c_str());
  }

 private:
  void remember(const std::string& name) {
    if (saved_.count(name)) return;
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace varnelo::test
