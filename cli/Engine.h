// Owning handles for what the library hands out (the engine, its volume and
// exclude lists, status objects, result records), the client's consumer
// pair, and the steps every signed-in command starts with. Used by the
// commands on the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ClientState.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/account.h"

namespace varnelo::cli {

// Objects with their own release().
struct Releaser {
  template <typename T>
  void operator()(T* object) const {
    if (object) object->release();
  }
};
using EnginePtr = std::unique_ptr<IVarnelo2, Releaser>;
using VolumesPtr = std::unique_ptr<IVolumes, Releaser>;
using ExcludeDirsPtr = std::unique_ptr<IExcludeDirs, Releaser>;
using StatusPtr = std::unique_ptr<IVarneloStatus, Releaser>;

// The consumer this build signs with (the build's cache variables).
const varnelo_token_pair& consumer();

// Makes the engine over `dataFolder`. 200, or the factory's code.
int32_t openEngine(const std::string& dataFolder, EnginePtr* out);

// The sync folder recorded in the engine ("" when none is mounted).
std::string mountedFolder(IVarnelo2& engine);

// The excluded server folders recorded in the engine.
std::vector<std::string> excludedFolders(IVarnelo2& engine);

// What the running sync holds back, entry by entry (empty when nothing is
// held or no sync runs).
std::vector<HeldPath> heldPaths(IVarnelo2& engine);

}  // namespace varnelo::cli
