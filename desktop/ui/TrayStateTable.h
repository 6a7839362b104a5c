// What the tray shows for each application state: the text of the pause /
// resume item, the state line, the icon and whether the usage item is shown;
// the line for "completed with errors" chosen by the failed files' codes; and
// the progress line built from the engine's transfer status. Pure functions
// over the string table, called on the UI thread.
#pragma once

#include <QString>

#include <cstdint>
#include <set>

namespace varnelo::desktop {

enum class UsageItem { Keep, Show, Hide };

struct TrayView {
  QString pauseItemText;  // text of menu item 32774
  QString stateLine;      // second line of the tooltip
  int iconId = 0;         // TrayIds.h; with `animate` the first of two frames
  bool animate = false;
  UsageItem usage = UsageItem::Keep;
};

// The row of the state table for `state`; `errors` picks the line of 512.
TrayView trayViewFor(int state, const std::set<int>& errors);

// The state line of 512 for the distinct codes of the failed files.
QString errorStateLine(const std::set<int>& errors);

// One reading of the engine's status object.
struct TransferSnapshot {
  bool hasFile = false;
  QString file;  // the file in transfer (a path; the line shows its name)
  uint64_t total = 0;
  uint64_t done = 0;
  uint64_t uploadSpeed = 0;
  uint64_t downloadSpeed = 0;
};

// The progress line of a syncing state (1 upload, 2 download, 3 both).
QString progressLine(int state, const TransferSnapshot& status);

// The tooltip: "Varnelo <version>", a line break and the state line, cut to
// the 127 characters a tray tooltip holds.
QString trayTooltip(const QString& version, const QString& stateLine);

}  // namespace varnelo::desktop
