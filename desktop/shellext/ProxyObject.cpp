#include "ProxyObject.h"

#include <cstring>

#include "ClassIds.h"

namespace varnelo::shellext {

// ---- ProxyObject ----

ProxyObject::ProxyObject(ShellExtState& state, const VarneloGuid& clsid, const VarneloGuid& iid)
    : state_(state), clsid_(clsid), iid_(iid) {
  state_.addProxy(this);
  state_.objectCreated();
}

ProxyObject::~ProxyObject() {
  // Out of the set first, so the unloader no longer reaches this proxy; the
  // real object goes under the call lock, while the library is still there.
  state_.removeProxy(this);
  {
    auto call = state_.enterCall();
    releaseRealObject();
  }
  state_.objectDestroyed();
}

uint32_t ProxyObject::release() noexcept {
  const uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

void ProxyObject::releaseRealObject() noexcept {
  std::lock_guard lock(realMutex_);
  if (!real_) return;
  auto* unknown = static_cast<IUnknown*>(real_);
  real_ = nullptr;
  unknown->lpVtbl->Release(unknown);
}

void* ProxyObject::realObject() {
  std::lock_guard lock(realMutex_);
  if (!real_) {
    if (VarneloCreateInstanceFn create = state_.createInstance()) create(&clsid_, &iid_, &real_);
  }
  return real_;
}

// ---- ProxyOverlayIconExt ----

namespace {

ProxyOverlayIconExt* overlayOf(IShellIconOverlayIdentifier* self) {
  struct Face {
    IShellIconOverlayIdentifier iface;
    ProxyOverlayIconExt* self;
  };
  return reinterpret_cast<Face*>(self)->self;
}

const IShellIconOverlayIdentifierVtbl kOverlayVtbl = {
    [](IShellIconOverlayIdentifier* self, const VarneloGuid* iid, void** object) {
      return overlayOf(self)->queryInterface(iid, object);
    },
    [](IShellIconOverlayIdentifier* self) { return overlayOf(self)->addRef(); },
    [](IShellIconOverlayIdentifier* self) { return overlayOf(self)->release(); },
    [](IShellIconOverlayIdentifier* self, const char* path, uint32_t attributes) {
      return overlayOf(self)->isMemberOf(path, attributes);
    },
    [](IShellIconOverlayIdentifier* self, char* iconFile, int32_t size, int32_t* index,
       uint32_t* flags) { return overlayOf(self)->getOverlayInfo(iconFile, size, index, flags); },
    [](IShellIconOverlayIdentifier* self, int32_t* priority) {
      return overlayOf(self)->getPriority(priority);
    },
};

}  // namespace

ProxyOverlayIconExt::ProxyOverlayIconExt(ShellExtState& state, const VarneloGuid& clsid)
    : ProxyObject(state, clsid, kIidIShellIconOverlayIdentifier), face_{{&kOverlayVtbl}, this} {}

VarneloResult ProxyOverlayIconExt::queryInterface(const VarneloGuid* iid, void** object) {
  if (!object) return VARNELO_E_POINTER;
  *object = nullptr;
  if (!iid) return VARNELO_E_NOINTERFACE;
  if (sameGuid(*iid, kIidIUnknown) || sameGuid(*iid, kIidIShellIconOverlayIdentifier)) {
    *object = overlay();
    addRef();
    return VARNELO_S_OK;
  }
  return VARNELO_E_NOINTERFACE;
}

VarneloResult ProxyOverlayIconExt::isMemberOf(const char* path, uint32_t attributes) {
  auto call = state_.enterCall();
  auto* real = static_cast<IShellIconOverlayIdentifier*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  return real->lpVtbl->IsMemberOf(real, path, attributes);
}

VarneloResult ProxyOverlayIconExt::getOverlayInfo(char* iconFile, int32_t size, int32_t* index,
                                                  uint32_t* flags) {
  auto call = state_.enterCall();
  auto* real = static_cast<IShellIconOverlayIdentifier*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  // Our own file first: an implementation that leaves the buffer alone gets
  // the emblem the extension installs for this class.
  if (iconFile && size > 0) {
    const std::string& own = state_.modulePath();
    const size_t n = std::min(own.size(), static_cast<size_t>(size) - 1);
    std::memcpy(iconFile, own.data(), n);
    iconFile[n] = '\0';
  }
  return real->lpVtbl->GetOverlayInfo(real, iconFile, size, index, flags);
}

VarneloResult ProxyOverlayIconExt::getPriority(int32_t* priority) {
  auto call = state_.enterCall();
  auto* real = static_cast<IShellIconOverlayIdentifier*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  return real->lpVtbl->GetPriority(real, priority);
}

// ---- ProxyContextMenuExt ----

namespace {

ProxyContextMenuExt* menuOf(IContextMenu* self) {
  struct Face {
    IContextMenu iface;
    ProxyContextMenuExt* self;
  };
  return reinterpret_cast<Face*>(self)->self;
}

ProxyContextMenuExt* initOf(IShellExtInit* self) {
  struct Face {
    IShellExtInit iface;
    ProxyContextMenuExt* self;
  };
  return reinterpret_cast<Face*>(self)->self;
}

const IContextMenuVtbl kMenuVtbl = {
    [](IContextMenu* self, const VarneloGuid* iid, void** object) {
      return menuOf(self)->queryInterface(iid, object);
    },
    [](IContextMenu* self) { return menuOf(self)->addRef(); },
    [](IContextMenu* self) { return menuOf(self)->release(); },
    [](IContextMenu* self, VarneloMenu* menu, uint32_t indexMenu, uint32_t idCmdFirst,
       uint32_t idCmdLast, uint32_t flags) {
      return menuOf(self)->queryContextMenu(menu, indexMenu, idCmdFirst, idCmdLast, flags);
    },
    [](IContextMenu* self, const VarneloInvokeCommandInfo* info) {
      return menuOf(self)->invokeCommand(info);
    },
    [](IContextMenu* self, uintptr_t idCmd, uint32_t type, uint32_t* reserved, char* name,
       uint32_t size) { return menuOf(self)->getCommandString(idCmd, type, reserved, name, size); },
};

// The first three slots of the second face forward to the object's own.
const IShellExtInitVtbl kInitVtbl = {
    [](IShellExtInit* self, const VarneloGuid* iid, void** object) {
      return initOf(self)->queryInterface(iid, object);
    },
    [](IShellExtInit* self) { return initOf(self)->addRef(); },
    [](IShellExtInit* self) { return initOf(self)->release(); },
    [](IShellExtInit* self, const char* folder, const VarneloDataObject* data, void* progIdKey) {
      return initOf(self)->initialize(folder, data, progIdKey);
    },
};

const VarneloGuid kContextMenuClsid = VARNELO_CLSID_CONTEXT_MENU;

}  // namespace

ProxyContextMenuExt::ProxyContextMenuExt(ShellExtState& state)
    : ProxyObject(state, kContextMenuClsid, kIidIContextMenu),
      menuFace_{{&kMenuVtbl}, this},
      initFace_{{&kInitVtbl}, this} {}

VarneloResult ProxyContextMenuExt::queryInterface(const VarneloGuid* iid, void** object) {
  if (!object) return VARNELO_E_POINTER;
  *object = nullptr;
  if (!iid) return VARNELO_E_NOINTERFACE;
  if (sameGuid(*iid, kIidIUnknown) || sameGuid(*iid, kIidIContextMenu)) {
    *object = menu();
  } else if (sameGuid(*iid, kIidIShellExtInit)) {
    *object = init();
  } else {
    return VARNELO_E_NOINTERFACE;
  }
  addRef();
  return VARNELO_S_OK;
}

VarneloResult ProxyContextMenuExt::queryContextMenu(VarneloMenu* menu, uint32_t indexMenu,
                                                    uint32_t idCmdFirst, uint32_t idCmdLast,
                                                    uint32_t flags) {
  auto call = state_.enterCall();
  auto* real = static_cast<IContextMenu*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  return real->lpVtbl->QueryContextMenu(real, menu, indexMenu, idCmdFirst, idCmdLast, flags);
}

VarneloResult ProxyContextMenuExt::invokeCommand(const VarneloInvokeCommandInfo* info) {
  auto call = state_.enterCall();
  auto* real = static_cast<IContextMenu*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  return real->lpVtbl->InvokeCommand(real, info);
}

VarneloResult ProxyContextMenuExt::getCommandString(uintptr_t idCmd, uint32_t type,
                                                    uint32_t* reserved, char* name, uint32_t size) {
  auto call = state_.enterCall();
  auto* real = static_cast<IContextMenu*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  return real->lpVtbl->GetCommandString(real, idCmd, type, reserved, name, size);
}

VarneloResult ProxyContextMenuExt::initialize(const char* folder, const VarneloDataObject* data,
                                              void* progIdKey) {
  auto call = state_.enterCall();
  auto* real = static_cast<IContextMenu*>(realObject());
  if (!real) return VARNELO_E_FAIL;
  void* answered = nullptr;
  const VarneloResult qi = real->lpVtbl->QueryInterface(real, &kIidIShellExtInit, &answered);
  auto* init = static_cast<IShellExtInit*>(answered);
  if (!VARNELO_SUCCEEDED(qi) || !init) {
    if (init) init->lpVtbl->Release(init);
    return VARNELO_E_NOINTERFACE;
  }
  const VarneloResult result = init->lpVtbl->Initialize(init, folder, data, progIdKey);
  init->lpVtbl->Release(init);
  return result;
}

}  // namespace varnelo::shellext
