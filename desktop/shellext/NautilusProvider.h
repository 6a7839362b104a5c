// The file manager's side of the extension: one GObject type that is a
// NautilusInfoProvider (emblems from the five overlay proxies) and a
// NautilusMenuProvider (items from a context-menu proxy per menu). It
// registers with the module's GTypeModule; the module entry points
// (Module.cpp) create and list it.
//
// Threads: the file manager's main thread only (GLib main context).
#pragma once

#include <glib-object.h>

#include "ShellExtState.h"

namespace varnelo::shellext {

// Registers the provider type with `module`; its instances use `state`.
GType registerProviderType(GTypeModule* module, ShellExtState& state);
GType providerType();

}  // namespace varnelo::shellext
