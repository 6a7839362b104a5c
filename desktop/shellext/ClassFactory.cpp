#include "ClassFactory.h"

#include <new>

#include "ClassIds.h"
#include "ProxyObject.h"

namespace varnelo::shellext {

namespace {

CShellExtClassFactory* factoryOf(IClassFactory* self) {
  struct Face {
    IClassFactory iface;
    CShellExtClassFactory* self;
  };
  return reinterpret_cast<Face*>(self)->self;
}

const IClassFactoryVtbl kFactoryVtbl = {
    [](IClassFactory* self, const VarneloGuid* iid, void** object) {
      return factoryOf(self)->queryInterface(iid, object);
    },
    [](IClassFactory* self) { return factoryOf(self)->addRef(); },
    [](IClassFactory* self) { return factoryOf(self)->release(); },
    [](IClassFactory* self, IUnknown* outer, const VarneloGuid* iid, void** object) {
      return factoryOf(self)->createInstance(outer, iid, object);
    },
    [](IClassFactory*, int) { return VARNELO_E_NOTIMPL; },
};

}  // namespace

CShellExtClassFactory::CShellExtClassFactory(ShellExtState& state, const VarneloGuid& clsid)
    : state_(state), clsid_(clsid), face_{{&kFactoryVtbl}, this} {
  state_.objectCreated();
}

CShellExtClassFactory::~CShellExtClassFactory() {
  state_.objectDestroyed();
}

uint32_t CShellExtClassFactory::release() noexcept {
  const uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

VarneloResult CShellExtClassFactory::queryInterface(const VarneloGuid* iid, void** object) {
  if (!object) return VARNELO_E_POINTER;
  *object = nullptr;
  if (iid && (sameGuid(*iid, kIidIUnknown) || sameGuid(*iid, kIidIClassFactory))) {
    *object = factory();
    addRef();
    return VARNELO_S_OK;
  }
  return VARNELO_E_NOINTERFACE;
}

VarneloResult CShellExtClassFactory::createInstance(IUnknown* outer, const VarneloGuid* iid,
                                                    void** object) {
  if (!object) return VARNELO_E_POINTER;
  *object = nullptr;
  if (outer) return VARNELO_CLASS_E_NOAGGREGATION;
  const ClassInfo* info = findClass(clsid_);
  if (!info) return VARNELO_E_OUTOFMEMORY;  // what the factory has always answered here
  VarneloResult result;
  if (info->role == ClassRole::Overlay) {
    auto* proxy = new (std::nothrow) ProxyOverlayIconExt(state_, clsid_);
    if (!proxy) return VARNELO_E_OUTOFMEMORY;
    // The proxy starts with no reference: a refused interface destroys it.
    proxy->addRef();
    result = proxy->queryInterface(iid, object);
    proxy->release();
  } else {
    auto* proxy = new (std::nothrow) ProxyContextMenuExt(state_);
    if (!proxy) return VARNELO_E_OUTOFMEMORY;
    proxy->addRef();
    result = proxy->queryInterface(iid, object);
    proxy->release();
  }
  return result;
}

VarneloResult dllGetClassObject(ShellExtState& state, const VarneloGuid* clsid,
                                const VarneloGuid* iid, void** object) {
  if (!object) return VARNELO_E_POINTER;
  *object = nullptr;
  if (!clsid) return VARNELO_E_INVALIDARG;
  auto* factory = new (std::nothrow) CShellExtClassFactory(state, *clsid);
  if (!factory) return VARNELO_E_OUTOFMEMORY;
  factory->addRef();
  const VarneloResult result = factory->queryInterface(iid, object);
  factory->release();
  return result;
}

VarneloResult dllCanUnloadNow(const ShellExtState& state) {
  return state.objectCount() == 0 ? VARNELO_S_OK : VARNELO_S_FALSE;
}

}  // namespace varnelo::shellext
