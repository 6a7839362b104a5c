// Numbers of the tray: the ids of its icons, the kinds of balloon, and its
// one menu command beyond the main window's. The command ids are also the
// ids of the menu items' texts in the string table.
#pragma once

#include "AppMessages.h"
#include "AppState.h"

namespace varnelo::desktop {

// The tray menu's commands are AppCommandId (AppMessages.h); the usage item
// is kCmdAccountPage. Two more of the windows' own:
inline constexpr int kCmdHeldDeletions = 32800;  // shown only while deletions are held
inline constexpr int kCmdAdoptFolder = 32801;  // shown only while the folder is not the one synced
inline constexpr int kCmdUsage = kCmdAccountPage;

// Icons, by the numbers the state table uses.
enum TrayIconId : int {
  kIconNormal = 128,
  kIconError = 139,
  kIconCompleted = 144,
  kIconSyncing1 = 145,
  kIconSyncing2 = 146,
  kIconOffline = 153,
  kIconPaused = 159,
};

// Kinds of balloon.
enum BalloonKind : int {
  kBalloonWarning = 0,
  kBalloonError = 1,
  kBalloonInfo = 2,
  kBalloonNone = 3,
  kBalloonOwnIcon = 4,
};

// Application states: AppStateValue (AppState.h).
}  // namespace varnelo::desktop
