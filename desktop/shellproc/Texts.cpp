#include "Texts.h"

#include <cstdlib>
#include <string_view>

namespace varnelo::shellproc {

bool desktopIsEnglish() {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    return std::string_view(value).substr(0, 2) == "en";  // LANGUAGE's first entry decides
  }
  return false;
}

std::string text(Text id) {
  const bool en = desktopIsEnglish();
  switch (id) {
    case Text::ShareLink:
      return en ? "Get share link" : "获取分享链接";
    case Text::ShareLinkHelp:
      return en ? "Publish a share link for this item and open it" : "获取分享链接";
    case Text::SendTo:
      return en ? "Send to Varnelo" : "发送到Varnelo";
    case Text::SendToHelp:
      return en ? "Copy the selected items into a folder of Varnelo" : "发送到Varnelo";
  }
  return {};
}

}  // namespace varnelo::shellproc
