// A fresh temporary folder for one test, removed with everything in it.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/files.h"

namespace varnelo::test {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/varnelo-test-XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TempDir() { platform::files::removeTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const {
    return platform::files::joinPath(path_, rel);
  }

 private:
  std::string path_;
};

}  // namespace varnelo::test
