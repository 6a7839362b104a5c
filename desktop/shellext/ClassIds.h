// The six classes the extension serves and what each one is for: five
// emblems (overlays) and the context menu. Shared by the factory, the
// proxies and the file-manager glue. Constant data; thread safe.
#pragma once

#include <varnelo/shellproc.h>

#include <array>
#include <string_view>

namespace varnelo::shellext {

enum class ClassRole { Overlay, ContextMenu };

struct ClassInfo {
  VarneloGuid clsid;
  ClassRole role;
  // The overlay's registration name ("!VarneloShellExtEditing"); the menu's
  // handler name ("Varnelo").
  std::string_view name;
  // The extension's own emblem for this overlay, shown when the
  // implementation leaves the icon to the extension. The file manager shows
  // the theme icon "emblem-" + name, which the extension installs.
  std::string_view emblem;
};

// In the order the factory compares them: the five overlays, then the menu.
extern const std::array<ClassInfo, 6> kClasses;
inline constexpr size_t kOverlayCount = 5;

bool sameGuid(const VarneloGuid& a, const VarneloGuid& b) noexcept;
// The class with this id, or null.
const ClassInfo* findClass(const VarneloGuid& clsid) noexcept;

inline constexpr VarneloGuid kIidIUnknown = VARNELO_IID_IUnknown;
inline constexpr VarneloGuid kIidIClassFactory = VARNELO_IID_IClassFactory;
inline constexpr VarneloGuid kIidIShellIconOverlayIdentifier =
    VARNELO_IID_IShellIconOverlayIdentifier;
inline constexpr VarneloGuid kIidIContextMenu = VARNELO_IID_IContextMenu;
inline constexpr VarneloGuid kIidIShellExtInit = VARNELO_IID_IShellExtInit;

}  // namespace varnelo::shellext
