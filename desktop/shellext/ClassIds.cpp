#include "ClassIds.h"

#include <cstring>

namespace varnelo::shellext {

const std::array<ClassInfo, 6> kClasses = {{
    {VARNELO_CLSID_OVERLAY_EDITING, ClassRole::Overlay, "!VarneloShellExtEditing",
     "varnelo-editing"},
    {VARNELO_CLSID_OVERLAY_NORMAL, ClassRole::Overlay, "!VarneloShellExtNormal", "varnelo-normal"},
    {VARNELO_CLSID_OVERLAY_SYNCING, ClassRole::Overlay, "!VarneloShellExtSyncing",
     "varnelo-syncing"},
    {VARNELO_CLSID_OVERLAY_IGNORED, ClassRole::Overlay, "!VarneloShellExtIgnored",
     "varnelo-ignored"},
    {VARNELO_CLSID_OVERLAY_CONFLICTED, ClassRole::Overlay, "!VarneloShellExtConflicted",
     "varnelo-conflicted"},
    {VARNELO_CLSID_CONTEXT_MENU, ClassRole::ContextMenu, "Varnelo", ""},
}};

bool sameGuid(const VarneloGuid& a, const VarneloGuid& b) noexcept {
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
         std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

const ClassInfo* findClass(const VarneloGuid& clsid) noexcept {
  for (const ClassInfo& c : kClasses)
    if (sameGuid(c.clsid, clsid)) return &c;
  return nullptr;
}

}  // namespace varnelo::shellext
