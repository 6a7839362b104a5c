#include "HandOver.h"

#include "platform/text.h"

namespace varnelo::desktop {

HandOver parseHandOver(std::string_view text) {
  if (text.empty()) return {HandOverSwitch::Empty, ""};
  static constexpr std::pair<std::string_view, HandOverSwitch> kSwitches[] = {
      {"-extlink", HandOverSwitch::ExtLink}, {"-sendto", HandOverSwitch::SendTo},
      {"-quit", HandOverSwitch::Quit},       {"-uninst", HandOverSwitch::Uninst},
      {"-upgrade", HandOverSwitch::Upgrade},
  };
  for (const auto& [name, kind] : kSwitches) {
    if (text.substr(0, name.size()) != name) continue;
    std::string_view rest = text.substr(name.size());
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    return {kind, std::string(rest)};
  }
  return {HandOverSwitch::Other, std::string(text)};
}

std::string joinArguments(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& a : arguments) {
    if (!text.empty()) text += ' ';
    // An argument the caller quoted already (the file manager's "-sendto"
    // paths) travels as it is.
    const bool quoted = a.size() >= 2 && a.front() == '"' && a.back() == '"';
    text += quoted || a.find(' ') == std::string::npos ? a : "\"" + a + "\"";
  }
  return text;
}

std::string handOverMessage(const std::vector<std::string>& arguments) {
  std::string message = joinArguments(arguments);
  message.push_back('\0');
  return message;
}

std::string_view handOverText(std::string_view message) {
  if (!message.empty() && message.back() == '\0') message.remove_suffix(1);
  return message;
}

std::vector<std::string> splitPaths(std::string_view argument) {
  std::vector<std::string> paths;
  size_t i = 0;
  while (i < argument.size()) {
    if (argument[i] == ' ') {
      ++i;
      continue;
    }
    size_t end;
    if (argument[i] == '"') {
      end = argument.find('"', i + 1);
      if (end == std::string_view::npos) end = argument.size();
      paths.emplace_back(argument.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      end = argument.find(' ', i);
      if (end == std::string_view::npos) end = argument.size();
      paths.emplace_back(argument.substr(i, end - i));
      i = end;
    }
  }
  return paths;
}

std::string singlePath(std::string_view argument) {
  if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
    argument = argument.substr(1, argument.size() - 2);
  }
  return std::string(argument);
}

std::string remotePathOf(const std::string& localPath, const std::string& syncFolder) {
  std::string root = syncFolder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root.empty() || localPath.size() <= root.size() + 1 ||
      localPath.compare(0, root.size(), root) != 0 || localPath[root.size()] != '/') {
    return "";
  }
  return "home/" + localPath.substr(root.size() + 1);
}

bool acceptableHandOver(std::string_view message) {
  if (message.size() > 2048 || !platform::isValidUtf8(message)) return false;
  try {
    return platform::utf16Length(message) <= 1023;
  } catch (const platform::TextError&) {
    return false;
  }
}

}  // namespace varnelo::desktop
