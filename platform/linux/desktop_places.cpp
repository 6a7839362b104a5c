#include "platform/desktop_places.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/files.h"

namespace platform::places {
namespace {

bool hasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

struct Line {
  std::string text;  // as read, without its line feed
  std::string path;  // the folder it names, empty when it is not a file address
  std::string label;
};

std::vector<Line> readLines(const std::string& file, std::error_code& ec) {
  std::vector<Line> lines;
  std::string text;
  ec = files::readFile(file, text);
  if (ec == std::errc::no_such_file_or_directory) ec = {};
  if (ec) return lines;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    Line line{std::string(rest.substr(0, end)), {}, {}};
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const size_t space = line.text.find(' ');
    std::string path;
    if (pathFromFileUri(std::string_view(line.text).substr(0, space), path)) {
      line.path = withoutTrailingSlash(path);
      if (space != std::string::npos) line.label = line.text.substr(space + 1);
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::error_code writeLines(const std::string& file, const std::vector<Line>& lines) {
  std::string text;
  for (const Line& line : lines) text += line.text + "\n";
  if (auto ec = files::createDirectories(files::parentPath(file), 0700)) return ec;
  // Keep the mode of an existing file (the user's umask chose it).
  struct stat st {};
  unsigned mode = 0644;
  if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
  return files::writeFileAtomic(file, text, mode);
}

}  // namespace

std::string configHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

std::string defaultBookmarksFile() {
  return configHome() + "/gtk-3.0/bookmarks";
}

std::string fileUri(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (char c : path) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      uri.push_back(c);
    } else {
      uri.push_back('%');
      uri.push_back(kHex[u >> 4]);
      uri.push_back(kHex[u & 15]);
    }
  }
  return uri;
}

bool pathFromFileUri(std::string_view uri, std::string& path) {
  constexpr std::string_view kScheme = "file://";
  if (uri.substr(0, kScheme.size()) != kScheme) return false;
  uri.remove_prefix(kScheme.size());
  if (uri.substr(0, 9) == "localhost") uri.remove_prefix(9);
  if (uri.empty() || uri.front() != '/') return false;
  path.clear();
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      path.push_back(uri[i]);
      continue;
    }
    if (i + 2 >= uri.size() || hexValue(uri[i + 1]) < 0 || hexValue(uri[i + 2]) < 0) return false;
    const char c = static_cast<char>(hexValue(uri[i + 1]) * 16 + hexValue(uri[i + 2]));
    if (c == '\0') return false;
    path.push_back(c);
    i += 2;
  }
  return true;
}

std::error_code addBookmark(const std::string& file, const std::string& folder,
                            const std::string& label, PlaceResult* result) {
  if (folder.empty() || folder.front() != '/' || hasLineBreak(folder) || hasLineBreak(label)) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::error_code ec;
  std::vector<Line> lines = readLines(file, ec);
  if (ec) return ec;
  const std::string wanted = withoutTrailingSlash(folder);
  for (const Line& line : lines) {
    if (line.path == wanted) {
      if (result != nullptr) {
        *result = line.label == label ? PlaceResult::Unchanged : PlaceResult::NotOurs;
      }
      return {};
    }
  }
  std::string text = fileUri(wanted);
  if (!label.empty()) text += " " + label;
  lines.push_back({text, wanted, label});
  if (auto ec2 = writeLines(file, lines)) return ec2;
  if (result != nullptr) *result = PlaceResult::Changed;
  return {};
}

std::error_code replaceOwnBookmark(const std::string& file, const std::string& folder,
                                   const std::string& label,
                                   const std::vector<std::string>& ownLabels, PlaceResult* result) {
  if (folder.empty() || folder.front() != '/' || hasLineBreak(folder) || hasLineBreak(label)) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::error_code ec;
  std::vector<Line> lines = readLines(file, ec);
  if (ec) return ec;
  const std::string wanted = withoutTrailingSlash(folder);
  const auto ours = [&](const Line& line) {
    return !line.path.empty() &&
           std::find(ownLabels.begin(), ownLabels.end(), line.label) != ownLabels.end();
  };
  bool listed = false;
  bool changed = false;
  std::vector<Line> kept;
  for (Line& line : lines) {
    if (line.path == wanted) {
      if (listed && ours(line)) {  // a second line of ours for it
        changed = true;
        continue;
      }
      if (ours(line) && line.label != label) {  // ours, with an older label
        line.text = fileUri(wanted) + (label.empty() ? "" : " " + label);
        line.label = label;
        changed = true;
      }
      listed = true;
    } else if (ours(line)) {
      changed = true;  // an older sync folder's, or another language's
      continue;
    }
    kept.push_back(std::move(line));
  }
  if (!listed) {
    std::string text = fileUri(wanted);
    if (!label.empty()) text += " " + label;
    kept.push_back({text, wanted, label});
    changed = true;
  }
  if (changed) {
    if (auto ec2 = writeLines(file, kept)) return ec2;
  }
  if (result != nullptr) *result = changed ? PlaceResult::Changed : PlaceResult::Unchanged;
  return {};
}

std::error_code removeBookmark(const std::string& file, const std::string& folder,
                               const std::string& label, PlaceResult* result) {
  if (folder.empty() || folder.front() != '/') {
    return std::make_error_code(std::errc::invalid_argument);
  }
  std::error_code ec;
  std::vector<Line> lines = readLines(file, ec);
  if (ec) return ec;
  const std::string wanted = withoutTrailingSlash(folder);
  PlaceResult outcome = PlaceResult::Unchanged;
  std::vector<Line> kept;
  for (Line& line : lines) {
    if (line.path == wanted) {
      if (line.label == label) {
        outcome = PlaceResult::Changed;
        continue;
      }
      if (outcome == PlaceResult::Unchanged) outcome = PlaceResult::NotOurs;
    }
    kept.push_back(std::move(line));
  }
  if (outcome == PlaceResult::Changed) {
    if (auto ec2 = writeLines(file, kept)) return ec2;
  }
  if (result != nullptr) *result = outcome;
  return {};
}

}  // namespace platform::places
