// The menu's texts: the product's Chinese texts on a Chinese desktop,
// English on every other, as the application's own windows. The first
// entry of LANGUAGE that is Chinese or English decides, else the first of
// LC_ALL, LC_MESSAGES and LANG that is set. Read afresh on each call;
// thread safe.
#pragma once

#include <string>

namespace varnelo::shellproc {

enum class Text { ShareLink, ShareLinkHelp, SendTo, SendToHelp };

bool desktopIsEnglish();
std::string text(Text id);

}  // namespace varnelo::shellproc
