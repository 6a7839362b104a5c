#include "Texts.h"

#include <cstdlib>
#include <string_view>

namespace varnelo::shellproc {

namespace {

enum class Language { Chinese, English, Other };

Language languageOf(std::string_view tag) {
  if (tag.substr(0, 2) == "zh") return Language::Chinese;
  if (tag.substr(0, 2) == "en") return Language::English;
  return Language::Other;
}

}  // namespace

bool desktopIsEnglish() {
  // LANGUAGE is a list of preferences: the first one we have texts for
  // decides ("de:zh_CN" is Chinese, "de" alone is not decided there).
  if (const char* list = std::getenv("LANGUAGE"); list && *list) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const Language l = languageOf(rest.substr(0, colon));
      if (l != Language::Other) return l == Language::English;
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  // Then the locale, as the application reads it. Only a Chinese desktop
  // gets the Chinese texts: "C", "POSIX", other languages and no setting at
  // all are English, like the application's windows.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    return languageOf(value) != Language::Chinese;
  }
  return true;
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
