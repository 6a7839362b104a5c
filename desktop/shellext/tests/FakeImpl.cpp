// A stand-in implementation library for the proxy tests, built in several
// flavours: FAKE_VERSION (what GetPriority answers, so a test can tell which
// copy answers), FAKE_NO_EXPORT (no CreateInstance at all). Tests steer it
// through the exported FakeControl.
#include <varnelo/shellproc.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace {

struct Control {
  std::atomic<int> emptyCreates{0};  // CreateInstance calls that leave the slot empty
  std::atomic<int> creates{0};
  std::atomic<int> live{0};
  std::atomic<int> releasedDuringCall{0};
  std::atomic<bool> writeIcon{false};
  // IsMemberOf blocks while `block` is set, after raising `inCall`.
  std::mutex mutex;
  std::condition_variable changed;
  bool block = false;
  int inCall = 0;
};
Control gControl;

const VarneloGuid kIidUnknown = VARNELO_IID_IUnknown;
const VarneloGuid kIidOverlay = VARNELO_IID_IShellIconOverlayIdentifier;
const VarneloGuid kIidMenu = VARNELO_IID_IContextMenu;
const VarneloGuid kIidInit = VARNELO_IID_IShellExtInit;

bool same(const VarneloGuid* a, const VarneloGuid& b) {
  return a && std::memcmp(a, &b, sizeof b) == 0;
}

struct Object {
  IShellIconOverlayIdentifier overlay;
  IContextMenu menu;
  IShellExtInit init;
  std::atomic<uint32_t> refs{1};
  int calls = 0;  // calls running on this object
  std::string folder;
};

Object* fromOverlay(void* p) {
  return reinterpret_cast<Object*>(p);
}
Object* fromMenu(void* p) {
  return reinterpret_cast<Object*>(static_cast<char*>(p) - offsetof(Object, menu));
}
Object* fromInit(void* p) {
  return reinterpret_cast<Object*>(static_cast<char*>(p) - offsetof(Object, init));
}

VarneloResult query(Object* o, const VarneloGuid* iid, void** out) {
  *out = nullptr;
  if (same(iid, kIidUnknown) || same(iid, kIidOverlay))
    *out = &o->overlay;
  else if (same(iid, kIidMenu))
    *out = &o->menu;
  else if (same(iid, kIidInit))
    *out = &o->init;
  else
    return VARNELO_E_NOINTERFACE;
  ++o->refs;
  return VARNELO_S_OK;
}

uint32_t release(Object* o) {
  {
    std::lock_guard lock(gControl.mutex);
    if (o->calls > 0) ++gControl.releasedDuringCall;
  }
  const uint32_t left = --o->refs;
  if (left == 0) {
    delete o;
    --gControl.live;
  }
  return left;
}

const IShellIconOverlayIdentifierVtbl kOverlay = {
    [](IShellIconOverlayIdentifier* s, const VarneloGuid* iid, void** out) {
      return query(fromOverlay(s), iid, out);
    },
    [](IShellIconOverlayIdentifier* s) -> uint32_t { return ++fromOverlay(s)->refs; },
    [](IShellIconOverlayIdentifier* s) { return release(fromOverlay(s)); },
    [](IShellIconOverlayIdentifier* s, const char* path, uint32_t) -> VarneloResult {
      Object* o = fromOverlay(s);
      std::unique_lock lock(gControl.mutex);
      ++o->calls;
      ++gControl.inCall;
      gControl.changed.notify_all();
      gControl.changed.wait(lock, [] { return !gControl.block; });
      --gControl.inCall;
      --o->calls;
      return path && std::strstr(path, "member") ? VARNELO_S_OK : VARNELO_S_FALSE;
    },
    [](IShellIconOverlayIdentifier*, char* icon, int32_t size, int32_t* index,
       uint32_t* flags) -> VarneloResult {
      if (gControl.writeIcon && icon && size > 16) std::strcpy(icon, "fake-emblem");
      if (index) *index = 0;
      if (flags) *flags = VARNELO_ISIOI_ICONFILE;
      return VARNELO_S_OK;
    },
    [](IShellIconOverlayIdentifier*, int32_t* priority) -> VarneloResult {
      if (priority) *priority = FAKE_VERSION;
      return VARNELO_S_OK;
    },
};

const IContextMenuVtbl kMenu = {
    [](IContextMenu* s, const VarneloGuid* iid, void** out) {
      return query(fromMenu(s), iid, out);
    },
    [](IContextMenu* s) -> uint32_t { return ++fromMenu(s)->refs; },
    [](IContextMenu* s) { return release(fromMenu(s)); },
    [](IContextMenu* s, VarneloMenu* menu, uint32_t index, uint32_t first, uint32_t,
       uint32_t) -> VarneloResult {
      const std::string label = "fake " + fromMenu(s)->folder;
      menu->insertItem(menu, index, first, label.c_str());
      return VARNELO_MAKE_MENU_RESULT(1);
    },
    [](IContextMenu*, const VarneloInvokeCommandInfo* info) -> VarneloResult {
      return info && info->commandOffset == 0 ? VARNELO_S_OK : VARNELO_E_INVALIDARG;
    },
    [](IContextMenu*, uintptr_t, uint32_t, uint32_t*, char* name, uint32_t size) -> VarneloResult {
      if (name && size > 0) name[0] = '\0';
      return VARNELO_S_OK;
    },
};

const IShellExtInitVtbl kInit = {
    [](IShellExtInit* s, const VarneloGuid* iid, void** out) {
      return query(fromInit(s), iid, out);
    },
    [](IShellExtInit* s) -> uint32_t { return ++fromInit(s)->refs; },
    [](IShellExtInit* s) { return release(fromInit(s)); },
    [](IShellExtInit* s, const char* folder, const VarneloDataObject* data,
       void*) -> VarneloResult {
      Object* o = fromInit(s);
      o->folder = folder ? folder : (data && data->count ? data->paths[0] : "");
      return VARNELO_S_OK;
    },
};

}  // namespace

extern "C" {

#ifndef FAKE_NO_EXPORT
VARNELO_SHELLPROC_EXPORT VarneloResult CreateInstance(const VarneloGuid*, const VarneloGuid* iid,
                                                      void** out) {
  if (!out) return VARNELO_E_POINTER;
  ++gControl.creates;
  if (gControl.emptyCreates > 0) {
    --gControl.emptyCreates;
    return VARNELO_S_OK;  // the slot stays empty although the answer says fine
  }
  auto* o = new (std::nothrow) Object{{&kOverlay}, {&kMenu}, {&kInit}, {1}, 0, {}};
  if (!o) return VARNELO_E_OUTOFMEMORY;
  ++gControl.live;
  const VarneloResult r = query(o, iid, out);
  release(o);
  return r;
}
#endif

// what: "empty" n, "write-icon" 0/1, "block" 0/1, "wait-in-call" (blocks
// until a call is inside IsMemberOf); reads "creates", "live",
// "released-during-call".
VARNELO_SHELLPROC_EXPORT int FakeControl(const char* what, int value) {
  const std::string w = what;
  if (w == "empty") gControl.emptyCreates = value;
  if (w == "write-icon") gControl.writeIcon = value != 0;
  if (w == "block" || w == "wait-in-call") {
    std::unique_lock lock(gControl.mutex);
    if (w == "block")
      gControl.block = value != 0;
    else
      gControl.changed.wait(lock, [] { return gControl.inCall > 0; });
    gControl.changed.notify_all();
  }
  if (w == "creates") return gControl.creates;
  if (w == "live") return gControl.live;
  if (w == "released-during-call") return gControl.releasedDuringCall;
  return 0;
}
}
