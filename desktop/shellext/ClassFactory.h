// CShellExtClassFactory: makes the proxy for one class id, and the module's
// factory entry points DllGetClassObject / DllCanUnloadNow (the file-manager
// glue and the tests use them; they are exported from the module as well).
// Thread safe.
#pragma once

#include <varnelo/shellproc.h>

#include <atomic>

#include "ShellExtState.h"

namespace varnelo::shellext {

struct IClassFactory;
struct IClassFactoryVtbl {
  VarneloResult (*QueryInterface)(IClassFactory* self, const VarneloGuid* iid, void** object);
  uint32_t (*AddRef)(IClassFactory* self);
  uint32_t (*Release)(IClassFactory* self);
  VarneloResult (*CreateInstance)(IClassFactory* self, IUnknown* outer, const VarneloGuid* iid,
                                  void** object);
  VarneloResult (*LockServer)(IClassFactory* self, int lock);
};
struct IClassFactory {
  const IClassFactoryVtbl* lpVtbl;
};

class CShellExtClassFactory {
 public:
  CShellExtClassFactory(ShellExtState& state, const VarneloGuid& clsid);
  ~CShellExtClassFactory();
  CShellExtClassFactory(const CShellExtClassFactory&) = delete;
  CShellExtClassFactory& operator=(const CShellExtClassFactory&) = delete;

  IClassFactory* factory() noexcept { return &face_.iface; }

  VarneloResult queryInterface(const VarneloGuid* iid, void** object);
  uint32_t addRef() noexcept { return ++refs_; }
  uint32_t release() noexcept;
  VarneloResult createInstance(IUnknown* outer, const VarneloGuid* iid, void** object);

 private:
  struct Face {
    IClassFactory iface;
    CShellExtClassFactory* self;
  };
  ShellExtState& state_;
  std::atomic<uint32_t> refs_{0};
  const VarneloGuid clsid_;
  Face face_;
};

// Any class id gets a factory (an unknown one fails at CreateInstance).
VarneloResult dllGetClassObject(ShellExtState& state, const VarneloGuid* clsid,
                                const VarneloGuid* iid, void** object);
// S_OK when no factory and no proxy is alive, else S_FALSE.
VarneloResult dllCanUnloadNow(const ShellExtState& state);

}  // namespace varnelo::shellext
