// A NautilusFileInfo for the test host: a GObject implementing the file
// manager's interface over a local path, recording the emblems it is given
// and how often its extension information was invalidated. Main thread.
#pragma once

#include <gio/gio.h>
#include <glib-object.h>
extern "C" {
#include <nautilus-extension.h>
}

#include <string>
#include <vector>

namespace varnelo::shellext::test {

struct TestFileInfo {
  GObject parent;
  GFile* location;
  gboolean directory;
  std::vector<std::string>* emblems;
  int invalidated;
};

GType testFileInfoType();
// A new file info (one reference) for `path`.
TestFileInfo* newTestFileInfo(const std::string& path, bool directory);

}  // namespace varnelo::shellext::test
