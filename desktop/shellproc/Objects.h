// The real objects behind the extension's proxies: an overlay per emblem
// class (membership from the file's sync state) and the context menu (share
// link inside the sync folder, send-to outside it). Made by CreateInstance.
//
// Threads: the file manager's main thread; the state reader they share is
// thread safe itself. Reference counts are atomic.
#pragma once

#include <varnelo/shellproc.h>

#include <cstring>

#include "StateReader.h"

namespace varnelo::shellproc {

// Whether `a` is given and names the same class or interface as `b`.
inline bool same(const VarneloGuid* a, const VarneloGuid& b) {
  return a && std::memcmp(a, &b, sizeof b) == 0;
}

// What an overlay class shows, by the file's sync state.
enum class Emblem { Editing, Normal, Syncing, Ignored, Conflicted };
bool emblemShows(Emblem emblem, int state);
// The order the emblems are shown in (lower first).
int emblemPriority(Emblem emblem);

// New objects with one reference; null when the class is not ours.
IShellIconOverlayIdentifier* newOverlay(const VarneloGuid& clsid, StateReader& reader);
IContextMenu* newContextMenu(StateReader& reader);

// statecache.db in the data folder the application uses; "" when there
// is none (nothing is shown then).
std::string stateCachePath();

}  // namespace varnelo::shellproc
