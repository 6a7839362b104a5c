// The menu's texts: the product's Chinese texts, English where the
// desktop's language is English (LANGUAGE, LC_ALL, LC_MESSAGES, LANG: the
// first one set decides). Read afresh on each call; thread safe.
#pragma once

#include <string>

namespace varnelo::shellproc {

enum class Text { ShareLink, ShareLinkHelp, SendTo, SendToHelp };

bool desktopIsEnglish();
std::string text(Text id);

}  // namespace varnelo::shellproc
