// The module's entry points: the three the file manager calls
// (nautilus_module_initialize / _list_types / _shutdown) and the factory's
// DllGetClassObject / DllCanUnloadNow. Initialising stands for the process
// attach: the implementation beside the module is loaded and the pipe
// thread started; shutting down stops the pipe (which unloads it).
// The implementation is looked for as varnelo/libvarneloShellProc.so beside
// the module.
#include <dlfcn.h>

// The header declares the module entry points without C linkage; GLib's
// own headers come first so that only those declarations are wrapped.
#include <gio/gio.h>
#include <glib-object.h>
extern "C" {
#include <nautilus-extension.h>
}

#include <platform/files.h>

#include "ClassFactory.h"
#include "NautilusProvider.h"
#include "PipeServer.h"
#include "ShellExtState.h"

#define VARNELO_SHELLEXT_EXPORT extern "C" __attribute__((visibility("default")))

namespace varnelo::shellext {
namespace {

// In a folder of its own beside the module: the file manager would try a
// library directly in its extension folder as an extension.
constexpr const char* kImplementationName = "varnelo/libvarneloShellProc.so";

PipeServer* gPipe = nullptr;  // the loader record's pipe thread, while attached
GType gTypes[1];

std::string ownPath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ownPath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

void attach() {
  if (gPipe) return;
  ShellExtState& state = processState();
  const std::string own = ownPath();
  state.setModulePath(own);
  state.setImplementationPath(
      platform::files::joinPath(platform::files::parentPath(own), kImplementationName));
  state.load();
  gPipe = new PipeServer(state);
  gPipe->start();
}

void detach() {
  if (!gPipe) return;
  gPipe->stop();
  delete gPipe;
  gPipe = nullptr;
}

}  // namespace
}  // namespace varnelo::shellext

using namespace varnelo::shellext;

VARNELO_SHELLEXT_EXPORT void nautilus_module_initialize(GTypeModule* module) {
  attach();
  gTypes[0] = registerProviderType(module, processState());
}

VARNELO_SHELLEXT_EXPORT void nautilus_module_list_types(const GType** types, int* count) {
  if (types) *types = gTypes;
  if (count) *count = gTypes[0] ? 1 : 0;
}

VARNELO_SHELLEXT_EXPORT void nautilus_module_shutdown(void) {
  detach();
}

VARNELO_SHELLEXT_EXPORT VarneloResult DllGetClassObject(const VarneloGuid* clsid,
                                                        const VarneloGuid* iid, void** object) {
  return dllGetClassObject(processState(), clsid, iid, object);
}

VARNELO_SHELLEXT_EXPORT VarneloResult DllCanUnloadNow(void) {
  return dllCanUnloadNow(processState());
}
