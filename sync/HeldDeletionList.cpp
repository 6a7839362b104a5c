// The exported list of held deletions and the "Keep" answer (SyncState.h):
// a copy of what the engine holds, owned by the caller until
// varnelo_destroy_held_list, so that nothing it hands out points into the
// running engine.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Log.h"
#include "VarneloImpl.h"
#include "varnelo/SyncState.h"
#include "varnelo/result_codes.h"

struct varnelo_held_list {
  std::vector<varnelo::sync::HeldDeletion> entries;
};

namespace {

int32_t listHeld(varnelo::sync::VarneloImpl* engine, varnelo_held_list** out) {
  if (!engine || !out) return VARNELO_NULL_ARGUMENT;
  *out = nullptr;
  try {
    auto list = std::make_unique<varnelo_held_list>();
    if (!engine->heldDeletions(list->entries)) return varnelo::kEngineNotRunning;
    *out = list.release();
    return varnelo::kEngineOk;
  } catch (const std::bad_alloc&) {
    varnelo::log_write(varnelo::kLogError, varnelo::kModuleVarnelo,
                       "listing the held deletions: out of memory");
    return varnelo::kEngineStoreFailed;
  }
}

}  // namespace

int32_t varnelo_restore_deletions(varnelo::IVarnelo* engine) {
  if (!engine) return VARNELO_NULL_ARGUMENT;
  return static_cast<varnelo::sync::VarneloImpl*>(engine)->restoreDeletions();
}

int32_t varnelo_restore_deletions2(varnelo::IVarnelo2* engine) {
  if (!engine) return VARNELO_NULL_ARGUMENT;
  return static_cast<varnelo::sync::VarneloImpl*>(engine)->restoreDeletions();
}

int32_t varnelo_list_held_deletions(varnelo::IVarnelo* engine, varnelo_held_list** out) {
  return listHeld(static_cast<varnelo::sync::VarneloImpl*>(engine), out);
}

int32_t varnelo_list_held_deletions2(varnelo::IVarnelo2* engine, varnelo_held_list** out) {
  return listHeld(static_cast<varnelo::sync::VarneloImpl*>(engine), out);
}

int32_t varnelo_held_list_size(const varnelo_held_list* list) {
  if (!list) return 0;
  // Counts beyond what an int32_t index reaches are not handed out.
  return static_cast<int32_t>(std::min<size_t>(list->entries.size(), INT32_MAX));
}

int32_t varnelo_held_list_at(const varnelo_held_list* list, int32_t index,
                             varnelo_held_deletion* out) {
  if (!out) return VARNELO_NULL_ARGUMENT;
  *out = {};
  if (!list) return VARNELO_NULL_ARGUMENT;
  if (index < 0 || static_cast<size_t>(index) >= list->entries.size()) return 404;
  const varnelo::sync::HeldDeletion& d = list->entries[static_cast<size_t>(index)];
  out->path = d.path.c_str();
  out->direction = d.deletedHere ? VARNELO_HELD_DELETED_HERE : VARNELO_HELD_DELETED_ON_SERVICE;
  out->files = d.files;
  return varnelo::kEngineOk;
}

int32_t varnelo_destroy_held_list(varnelo_held_list* list) {
  delete list;
  return varnelo::kEngineOk;
}
