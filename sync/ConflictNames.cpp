#include "ConflictNames.h"

#include "platform/files.h"
#include "platform/text.h"

namespace varnelo {

namespace {

constexpr const char* kMarker = " (Conflicted copy";
// What a name may hold on the file systems the sync folder lives on.
constexpr size_t kMaxNameBytes = 255;
// Kept free for the " 2" ... " 999" that conflictedCopyPath may add.
constexpr size_t kNumberBytes = 4;

std::string dateText(const platform::LocalTime& when) {
  std::string text = platform::formatTimeStamp(when);
  for (char& c : text) {
    if (c == ':') c = '-';
    if (c == ' ') c = '_';
  }
  return text;
}

}  // namespace

std::string conflictedCopyName(const std::string& fileName, const platform::LocalTime& when) {
  std::string base, extension;
  size_t marker = fileName.find(kMarker);
  size_t close = marker == std::string::npos ? marker : fileName.find(')', marker);
  if (close != std::string::npos) {
    // An earlier copy: keep what stands before and after its marker.
    base = fileName.substr(0, marker);
    extension = fileName.substr(close + 1);
  } else {
    size_t dot = fileName.rfind('.');
    base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    extension = dot == std::string::npos ? std::string() : fileName.substr(dot);
  }
  // A long name gives up the end of its base, never the marker or the
  // extension: a copy whose name the file system refuses would leave the
  // conflict standing, the remote version never coming down.
  const std::string stamp = kMarker + (" " + dateText(when)) + ")";
  if (stamp.size() + extension.size() + kNumberBytes > kMaxNameBytes) {
    base += extension;  // no extension of a reasonable length: all of it is the base
    extension.clear();
  }
  const size_t room = kMaxNameBytes - kNumberBytes - stamp.size() - extension.size();
  return platform::cutUtf8(base, room) + stamp + extension;
}

bool hasConflictMarker(std::string_view fileName) {
  const size_t marker = fileName.find(kMarker);
  return marker != std::string_view::npos && fileName.find(')', marker) != std::string_view::npos;
}

std::string conflictedCopyPath(const std::string& localPath) {
  platform::files::EntryInfo info;
  platform::LocalTime when = platform::files::stat(localPath, info)
                                 ? platform::currentLocalTime()
                                 : platform::localTimeOf(info.lastWrite);
  std::string folder = platform::files::parentPath(localPath);
  std::string name = conflictedCopyName(platform::files::fileName(localPath), when);
  std::string candidate = platform::files::joinPath(folder, name);
  for (int n = 2; platform::files::exists(candidate) && n < 1000; ++n) {
    std::string numbered = name;
    numbered.insert(numbered.rfind(')'), " " + std::to_string(n));
    candidate = platform::files::joinPath(folder, numbered);
  }
  return candidate;
}

}  // namespace varnelo
