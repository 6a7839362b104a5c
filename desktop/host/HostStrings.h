// The host's own texts: the caption (104) and the question (105) of the
// upgrade box, Chinese at the source, translated through context
// "HostStrings" (desktop/i18n/varnelohost_en.ts). Needs a QCoreApplication.
#pragma once

#include <QString>

namespace varnelo::host {

inline constexpr int kStrUpgradeCaption = 104;
inline constexpr int kStrUpgradeQuestion = 105;

// The text of `id`, translated; empty for an unknown id.
QString host_str(int id);

// Loads the English texts unless the desktop's language is Chinese.
void install_host_translation();

}  // namespace varnelo::host
