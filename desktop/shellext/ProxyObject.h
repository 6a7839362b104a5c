// The objects the extension hands to the file manager: thin proxies that
// create the real object through the implementation's CreateInstance on
// first use and forward every call to it (E_FAIL while there is none).
//
// ProxyObject is the common part: reference count, real-object slot, class
// id, membership of the live-proxy set and the object count.
// ProxyOverlayIconExt is an IShellIconOverlayIdentifier; ProxyContextMenuExt
// an IContextMenu whose second face is IShellExtInit.
//
// Threads: any thread may call; forwarded calls hold the state's call lock
// (see ShellExtState.h), so the pipe thread's unload waits for them.
#pragma once

#include <varnelo/shellproc.h>

#include <atomic>
#include <mutex>

#include "ShellExtState.h"

namespace varnelo::shellext {

class ProxyObject : public IProxy {
 public:
  ProxyObject(const ProxyObject&) = delete;
  ProxyObject& operator=(const ProxyObject&) = delete;

  uint32_t addRef() noexcept { return ++refs_; }
  // Destroys the proxy when the count reaches 0.
  uint32_t release() noexcept;
  void releaseRealObject() noexcept override;
  const VarneloGuid& classId() const noexcept { return clsid_; }

 protected:
  ProxyObject(ShellExtState& state, const VarneloGuid& clsid, const VarneloGuid& iid);
  virtual ~ProxyObject();

  // The real object, created now when there is none yet; null when the
  // implementation gives none. Call with the state's call lock held.
  void* realObject();

  ShellExtState& state_;

 private:
  std::atomic<uint32_t> refs_{0};
  std::mutex realMutex_;  // guards real_ between shell threads and the unloader
  void* real_ = nullptr;
  const VarneloGuid clsid_;
  const VarneloGuid iid_;  // what CreateInstance is asked for
};

class ProxyOverlayIconExt final : public ProxyObject {
 public:
  // A new proxy with no reference yet (QueryInterface adds the first).
  ProxyOverlayIconExt(ShellExtState& state, const VarneloGuid& clsid);

  IShellIconOverlayIdentifier* overlay() noexcept { return &face_.iface; }

  VarneloResult queryInterface(const VarneloGuid* iid, void** object);
  VarneloResult isMemberOf(const char* path, uint32_t attributes);
  VarneloResult getOverlayInfo(char* iconFile, int32_t size, int32_t* index, uint32_t* flags);
  VarneloResult getPriority(int32_t* priority);

 private:
  struct Face {
    IShellIconOverlayIdentifier iface;
    ProxyOverlayIconExt* self;
  };
  Face face_;
};

class ProxyContextMenuExt final : public ProxyObject {
 public:
  explicit ProxyContextMenuExt(ShellExtState& state);

  IContextMenu* menu() noexcept { return &menuFace_.iface; }
  IShellExtInit* init() noexcept { return &initFace_.iface; }

  VarneloResult queryInterface(const VarneloGuid* iid, void** object);
  VarneloResult queryContextMenu(VarneloMenu* menu, uint32_t indexMenu, uint32_t idCmdFirst,
                                 uint32_t idCmdLast, uint32_t flags);
  VarneloResult invokeCommand(const VarneloInvokeCommandInfo* info);
  VarneloResult getCommandString(uintptr_t idCmd, uint32_t type, uint32_t* reserved, char* name,
                                 uint32_t size);
  VarneloResult initialize(const char* folder, const VarneloDataObject* data, void* progIdKey);

 private:
  struct MenuFace {
    IContextMenu iface;
    ProxyContextMenuExt* self;
  };
  struct InitFace {
    IShellExtInit iface;
    ProxyContextMenuExt* self;
  };
  MenuFace menuFace_;
  InitFace initFace_;
};

}  // namespace varnelo::shellext
