// A fresh temporary folder for one test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/files.h"

namespace varnelo::desktop::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = "/tmp/varnelo-desktop-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    if (!path_.empty()) platform::files::removeTree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace varnelo::desktop::test
