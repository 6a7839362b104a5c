// One folder's listing from the service, checked before the remote pass
// weighs it: names that could not be stored here are reported and left
// out, and of names that differ only in case the first one is kept. Called
// by the remote pass (RemotePass.h) on the sync thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Context.h"
#include "TempNames.h"

namespace varnelo::downloader {

// One element of a folder listing, checked.
struct RemoteEntry {
  std::string name;
  std::string key;  // nameKey(name)
  bool folder = false;
  Signature ver{};
  uint64_t size = 0;
};

// Lists the folder; `out` gets its entries sorted by key, `listed` the
// folder's own version. `dropped` gets the lower-cased names of entries
// refused as unsafe, whose journal rows must not read as deleted;
// `leftOut` is set when any listed entry is not taken (unsafe, a case twin).
int listRemoteFolder(Context& context, const std::string& remotePath,
                     const std::string& localFolder, std::vector<RemoteEntry>& out,
                     Signature& listed, std::vector<std::string>& dropped, bool& leftOut);

}  // namespace varnelo::downloader
