#include "Engine.h"

#include "platform/data_folder.h"
#include "varnelo/SyncState.h"

namespace varnelo::cli {

namespace {
constexpr uint64_t kLogDays = 29;
}  // namespace

const varnelo_token_pair& consumer() {
  static const varnelo_token_pair pair{VARNELO_CONSUMER_KEY, VARNELO_CONSUMER_SECRET};
  return pair;
}

int32_t openEngine(const std::string& dataFolder, EnginePtr* out) {
  // Each start writes a log file: a client started from a timer every few
  // minutes keeps four weeks of them, as the desktop application does.
  platform::removeOldLogs(dataFolder, platform::currentFileTime(), kLogDays);
  IVarnelo2* engine = nullptr;
  int32_t rc = varnelo_new2(dataFolder.c_str(), &engine);
  if (rc != 200) return rc;
  if (!engine) return -4;  // the factory could not allocate the engine
  out->reset(engine);
  return 200;
}

std::string mountedFolder(IVarnelo2& engine) {
  IVolumes* raw = nullptr;
  if (engine.getVolumes(&raw) != 200 || !raw) return "";
  VolumesPtr volumes(raw);
  // The engine syncs the first volume; the client mounts only one.
  VolumeInfo info{nullptr, nullptr, nullptr};
  if (volumes->count() == 0) return "";
  volumes->at(0, info);
  return info.localPath ? info.localPath : "";
}

std::vector<std::string> excludedFolders(IVarnelo2& engine) {
  std::vector<std::string> result;
  IExcludeDirs* raw = nullptr;
  engine.getExcludeDirs(&raw);
  if (!raw) return result;
  ExcludeDirsPtr dirs(raw);
  for (uint32_t i = 0; i < dirs->count(); ++i) {
    if (const char* dir = dirs->at(i)) result.emplace_back(dir);
  }
  return result;
}

std::vector<HeldPath> heldPaths(IVarnelo2& engine) {
  std::vector<HeldPath> result;
  varnelo_held_list* list = nullptr;
  if (varnelo_list_held_deletions2(&engine, &list) != 200) return result;
  const int32_t size = varnelo_held_list_size(list);
  for (int32_t i = 0; i < size; ++i) {
    varnelo_held_deletion d{};
    if (varnelo_held_list_at(list, i, &d) != 200 || !d.path) continue;
    result.push_back({d.path, d.direction == VARNELO_HELD_DELETED_HERE, d.files});
  }
  varnelo_destroy_held_list(list);
  return result;
}

}  // namespace varnelo::cli
