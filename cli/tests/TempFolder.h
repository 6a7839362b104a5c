// A fresh folder below /tmp for one test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <string>

#include "platform/files.h"

namespace varnelo::cli {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/varnelocmd-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~TempFolder() { platform::files::removeTree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const {
    return platform::files::joinPath(path_, name);
  }

 private:
  std::string path_;
};

}  // namespace varnelo::cli
