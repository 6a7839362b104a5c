#include "FolderCopy.h"

#include <QtGlobal>

#include "platform/files.h"

namespace varnelo::desktop {
namespace {

namespace files = platform::files;

void copyEntry(const std::string& from, const std::string& to) {
  if (files::isDirectory(from)) {
    if (!files::isDirectory(to)) {
      if (std::error_code ec = files::createDirectory(to)) {
        qWarning("send to: cannot create %s: %s", to.c_str(), ec.message().c_str());
        return;
      }
    }
    std::vector<files::DirEntry> entries;
    if (std::error_code ec = files::listDirectory(from, entries)) {
      qWarning("send to: cannot list %s: %s", from.c_str(), ec.message().c_str());
      return;
    }
    for (const auto& e : entries)
      copyEntry(files::joinPath(from, e.name), files::joinPath(to, e.name));
    return;
  }
  if (!files::isRegularFile(from)) return;  // links, sockets, devices are never copied
  // Into a new file only, so that a file of that name that appears meanwhile
  // (a download, the user's own) is never written over either.
  if (std::error_code ec = files::copyFile(from, to, true); ec == std::errc::file_exists) {
    qWarning("send to: %s exists already; not overwritten", to.c_str());
  } else if (ec) {
    qWarning("send to: cannot copy %s: %s", from.c_str(), ec.message().c_str());
  }
}

}  // namespace

int copyInto(const std::vector<std::string>& paths, const std::string& targetFolder) {
  int copied = 0;
  for (const std::string& path : paths) {
    if (!files::exists(path)) break;
    std::string target = files::joinPath(targetFolder, files::fileName(path));
    // A folder copied into itself would never end.
    if (files::isDirectory(path) &&
        (targetFolder == path || targetFolder.rfind(path + "/", 0) == 0)) {
      qWarning("send to: %s cannot be copied into itself", path.c_str());
      continue;
    }
    copyEntry(path, target);
    ++copied;
  }
  return copied;
}

}  // namespace varnelo::desktop
