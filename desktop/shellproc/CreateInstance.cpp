// The library's one entry point, called by the file-manager extension.
#include <platform/data_folder.h>

#include "Objects.h"

namespace varnelo::shellproc {

std::string stateCachePath() {
  const std::string folder = platform::defaultDataFolder();
  return folder.empty() ? std::string() : folder + "/statecache.db";
}

namespace {

StateReader& reader() {
  // Closed when the extension unloads this library (every object is gone by
  // then).
  static StateReader instance(stateCachePath());
  return instance;
}

}  // namespace
}  // namespace varnelo::shellproc

extern "C" VARNELO_SHELLPROC_EXPORT VarneloResult CreateInstance(const VarneloGuid* clsid,
                                                                 const VarneloGuid* iid,
                                                                 void** object) {
  using namespace varnelo::shellproc;
  static const VarneloGuid kMenuClsid = VARNELO_CLSID_CONTEXT_MENU;
  static const VarneloGuid kIidOverlay = VARNELO_IID_IShellIconOverlayIdentifier;
  static const VarneloGuid kIidMenu = VARNELO_IID_IContextMenu;
  if (!object) return VARNELO_E_POINTER;
  *object = nullptr;
  if (!clsid || !iid) return VARNELO_E_INVALIDARG;
  if (same(clsid, kMenuClsid)) {
    if (!same(iid, kIidMenu)) return VARNELO_E_NOINTERFACE;
    IContextMenu* menu = newContextMenu(reader());
    *object = menu;
    return menu ? VARNELO_S_OK : VARNELO_E_OUTOFMEMORY;
  }
  if (!same(iid, kIidOverlay)) return VARNELO_E_NOINTERFACE;
  IShellIconOverlayIdentifier* overlay = newOverlay(*clsid, reader());
  *object = overlay;
  return overlay ? VARNELO_S_OK : VARNELO_E_NOINTERFACE;
}
