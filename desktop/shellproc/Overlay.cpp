// The five overlay objects: each asks the state reader for the file's state
// and answers "member" for the states its emblem stands for.
#include <atomic>
#include <new>

#include "Objects.h"

namespace varnelo::shellproc {

namespace {

constexpr int kInStep = 0;
constexpr int kInUse = 4;
constexpr int kConflict = 16;
constexpr uint32_t kFolderAttribute = 0x10;

const VarneloGuid kIidUnknown = VARNELO_IID_IUnknown;
const VarneloGuid kIidOverlay = VARNELO_IID_IShellIconOverlayIdentifier;

struct ClassEmblem {
  VarneloGuid clsid;
  Emblem emblem;
};
const ClassEmblem kClassEmblems[] = {
    {VARNELO_CLSID_OVERLAY_EDITING, Emblem::Editing},
    {VARNELO_CLSID_OVERLAY_NORMAL, Emblem::Normal},
    {VARNELO_CLSID_OVERLAY_SYNCING, Emblem::Syncing},
    {VARNELO_CLSID_OVERLAY_IGNORED, Emblem::Ignored},
    {VARNELO_CLSID_OVERLAY_CONFLICTED, Emblem::Conflicted},
};

struct Overlay {
  IShellIconOverlayIdentifier iface;  // first: the object's address is the interface's
  std::atomic<uint32_t> refs;
  Emblem emblem;
  StateReader* reader;
};

Overlay* self(IShellIconOverlayIdentifier* i) {
  return reinterpret_cast<Overlay*>(i);
}

const IShellIconOverlayIdentifierVtbl kVtbl = {
    [](IShellIconOverlayIdentifier* i, const VarneloGuid* iid, void** out) -> VarneloResult {
      if (!out) return VARNELO_E_POINTER;
      *out = nullptr;
      if (!same(iid, kIidUnknown) && !same(iid, kIidOverlay)) return VARNELO_E_NOINTERFACE;
      ++self(i)->refs;
      *out = i;
      return VARNELO_S_OK;
    },
    [](IShellIconOverlayIdentifier* i) -> uint32_t { return ++self(i)->refs; },
    [](IShellIconOverlayIdentifier* i) -> uint32_t {
      const uint32_t left = --self(i)->refs;
      if (left == 0) delete self(i);
      return left;
    },
    [](IShellIconOverlayIdentifier* i, const char* path, uint32_t attributes) -> VarneloResult {
      if (!path || path[0] != '/') return VARNELO_S_FALSE;
      const auto state = self(i)->reader->shownState(
          StateReader::normalise(path, (attributes & kFolderAttribute) != 0));
      return state && emblemShows(self(i)->emblem, *state) ? VARNELO_S_OK : VARNELO_S_FALSE;
    },
    [](IShellIconOverlayIdentifier*, char*, int32_t, int32_t* index,
       uint32_t* flags) -> VarneloResult {
      // The icon file is left as the extension filled it: its own emblem.
      if (index) *index = 0;
      if (flags) *flags = VARNELO_ISIOI_ICONFILE;
      return VARNELO_S_OK;
    },
    [](IShellIconOverlayIdentifier* i, int32_t* priority) -> VarneloResult {
      if (!priority) return VARNELO_E_POINTER;
      *priority = emblemPriority(self(i)->emblem);
      return VARNELO_S_OK;
    },
};

}  // namespace

bool emblemShows(Emblem emblem, int state) {
  switch (emblem) {
    case Emblem::Editing:
      return state == kInUse;
    case Emblem::Normal:
      return state == kInStep;
    case Emblem::Syncing:
      return (state & 3) != 0;  // uploading, downloading, or a folder with transfers below
    case Emblem::Conflicted:
      return state == kConflict;
    case Emblem::Ignored:
      // Failed (256) and any value this library does not know.
      return state != kInStep && state != kInUse && state != kConflict && (state & 3) == 0;
  }
  return false;
}

int emblemPriority(Emblem emblem) {
  switch (emblem) {
    case Emblem::Conflicted:
      return 10;
    case Emblem::Ignored:
      return 20;
    case Emblem::Editing:
      return 30;
    case Emblem::Syncing:
      return 40;
    case Emblem::Normal:
      return 50;
  }
  return 100;
}

IShellIconOverlayIdentifier* newOverlay(const VarneloGuid& clsid, StateReader& reader) {
  for (const ClassEmblem& c : kClassEmblems) {
    if (!same(&clsid, c.clsid)) continue;
    auto* o = new (std::nothrow) Overlay{{&kVtbl}, {1}, c.emblem, &reader};
    return o ? &o->iface : nullptr;
  }
  return nullptr;
}

}  // namespace varnelo::shellproc
