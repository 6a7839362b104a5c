#include "platform/autostart.h"

#include <unistd.h>

#include <cerrno>

#include "platform/desktop_places.h"
#include "platform/files.h"

namespace platform::autostart {
namespace {

bool hasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// A desktop entry's string value: backslashes escaped.
std::string escapeValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string unescapeValue(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    switch (text[++i]) {
      case 's':
        out.push_back(' ');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'r':
        out.push_back('\r');
        break;
      default:
        out.push_back(text[i]);
    }
  }
  return out;
}

// Words inside Exec are quoted; a quoted word escapes ", `, $ and \, and
// any literal % is doubled (a single one starts a field code).
std::string quoteWord(std::string_view word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out.push_back('\\');
    if (c == '%') out.push_back('%');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

}  // namespace

std::string folder() {
  return places::configHome() + "/autostart";
}

std::string entryPath(std::string_view id) {
  if (id.empty() || id == "." || id == "..") return {};
  for (char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return {};
  }
  return folder() + "/" + std::string(id) + ".desktop";
}

std::string execLine(const std::string& program, const std::vector<std::string>& args) {
  std::string line = quoteWord(program);
  for (const std::string& arg : args) line += " " + quoteWord(arg);
  return escapeValue(line);
}

bool firstExecWord(std::string_view exec, std::string& word) {
  const std::string line = unescapeValue(exec);
  word.clear();
  size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  if (i == line.size()) return false;
  if (line[i] == '"') {
    for (++i; i < line.size(); ++i) {
      if (line[i] == '"') return true;
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
      word.push_back(line[i]);
    }
    return false;  // no closing quote
  }
  for (; i < line.size() && line[i] != ' '; ++i) {
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
    word.push_back(line[i]);
  }
  return true;
}

std::error_code write(std::string_view id, const Entry& entry) {
  const std::string path = entryPath(id);
  bool badText = hasLineBreak(entry.name) || hasLineBreak(entry.program) ||
                 hasLineBreak(entry.comment) || hasLineBreak(entry.icon);
  for (const std::string& arg : entry.args) badText = badText || hasLineBreak(arg);
  if (path.empty() || entry.program.empty() || entry.program.front() != '/' || badText) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::string text = "[Desktop Entry]\nType=Application\nName=" + escapeValue(entry.name) + "\n";
  if (!entry.comment.empty()) text += "Comment=" + escapeValue(entry.comment) + "\n";
  if (!entry.icon.empty()) text += "Icon=" + escapeValue(entry.icon) + "\n";
  text += "Exec=" + execLine(entry.program, entry.args) + "\n";
  text += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
  if (auto ec = files::createDirectories(folder(), 0700)) return ec;
  return files::writeFileAtomic(path, text, 0644);
}

std::error_code read(std::string_view id, std::string& program) {
  const std::string path = entryPath(id);
  if (path.empty()) return std::make_error_code(std::errc::invalid_argument);
  std::string text;
  if (auto ec = files::readFile(path, text)) return ec;
  bool inMain = false;
  bool enabled = true;
  bool found = false;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() == '[') {
      inMain = line == "[Desktop Entry]";
      continue;
    }
    if (!inMain) continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    std::string_view value = line.substr(eq + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (key == "Hidden" && value == "true") enabled = false;
    if (key == "X-GNOME-Autostart-enabled" && value == "false") enabled = false;
    if (key == "Exec" && !found) found = firstExecWord(value, program);
  }
  if (!enabled || !found) return std::make_error_code(std::errc::no_such_file_or_directory);
  return {};
}

std::error_code remove(std::string_view id) {
  const std::string path = entryPath(id);
  if (path.empty()) return std::make_error_code(std::errc::invalid_argument);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return {errno, std::generic_category()};
  return {};
}

}  // namespace platform::autostart
