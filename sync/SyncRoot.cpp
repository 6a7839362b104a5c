#include "SyncRoot.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

#include "Log.h"
#include "SyncPaths.h"
#include "platform/files.h"
#include "platform/uuid.h"

namespace varnelo::sync {

namespace files = platform::files;

namespace {

// Marker ids are ours (a UUID); anything longer or with odd bytes is not.
constexpr size_t kMaxMarkerBytes = 64;

std::string trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

bool parseNumber(const std::string& text, uint64_t& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

SyncRoot::SyncRoot(std::string root, std::string recordPath)
    : root_(std::move(root)), recordPath_(std::move(recordPath)) {}

RootState SyncRoot::set(RootState state) {
  available_ = state == RootState::Available;
  return state;
}

bool SyncRoot::readRecord(Record& out) const {
  std::string text;
  if (files::readFile(recordPath_, text)) return false;
  std::istringstream lines(text);
  std::string line;
  bool device = false, inode = false;
  out = {};
  while (std::getline(lines, line)) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string key = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    if (key == "device") {
      device = parseNumber(value, out.id.device);
    } else if (key == "inode") {
      inode = parseNumber(value, out.id.inode);
    } else if (key == "id") {
      out.marker = value;
    } else if (key == "mount" && relativeToRoot("/", "/" + value)) {
      out.mounts.push_back(value);
    }
  }
  return device && inode && !out.marker.empty();
}

bool SyncRoot::writeRecord() const {
  std::string text = "device " + std::to_string(record_.id.device) + "\ninode " +
                     std::to_string(record_.id.inode) + "\nid " + record_.marker + "\n";
  for (const std::string& mount : record_.mounts) text += "mount " + mount + "\n";
  std::error_code ec = files::writeFileAtomic(recordPath_, text, 0600);
  if (!ec) ec = files::syncDirectory(files::parentPath(recordPath_));
  if (ec) {
    log_write(kLogError, kModuleSync, "cannot record the sync folder's identity in [%s]:[%d]",
              recordPath_.c_str(), ec.value());
    return false;
  }
  return true;
}

bool SyncRoot::readMarker(std::string& out) const {
  std::string text;
  if (files::readRange(files::joinPath(root_, kMarkerName), 0, kMaxMarkerBytes + 2, text))
    return false;
  out = trimmed(text);
  return !out.empty() && out.size() <= kMaxMarkerBytes &&
         std::all_of(out.begin(), out.end(),
                     [](char c) { return std::isgraph(static_cast<unsigned char>(c)); });
}

RootState SyncRoot::adopt(const files::FileId& id, const std::string& marker) {
  std::string existing;
  record_ = {};
  record_.id = id;
  record_.marker = readMarker(existing) ? existing : marker;
  if (existing.empty() || existing != record_.marker) {
    // Flushed with its folder entry: a marker lost in a power cut would hold
    // the folder as "not the one synced before".
    std::error_code ec =
        files::writeFileAtomic(files::joinPath(root_, kMarkerName), record_.marker + "\n", 0644);
    if (!ec) ec = files::syncDirectory(root_);
    if (ec) {
      log_write(kLogError, kModuleSync, "cannot write the marker of the sync folder [%s]:[%d]",
                root_.c_str(), ec.value());
      return set(RootState::Unavailable);
    }
  }
  // The marker's own rename must not change the folder: read its id again.
  if (files::fileId(root_, record_.id)) return set(RootState::Missing);
  haveRecord_ = writeRecord();
  if (!haveRecord_) return set(RootState::Unavailable);
  log_write(kLogInfo, kModuleSync, "sync folder [%s] adopted, id:[%s]", root_.c_str(),
            record_.marker.c_str());
  return set(RootState::Available);
}

RootState SyncRoot::begin(bool neverSynced,
                          const std::function<bool(const std::string&)>& knowsName) {
  neverSynced_ = neverSynced;
  knowsName_ = knowsName;
  return identify();
}

RootState SyncRoot::identify() {
  files::FileId id;
  if (!files::isDirectory(root_) || files::fileId(root_, id)) return set(RootState::Missing);
  if (neverSynced_) return adopt(id, platform::newUuid());
  haveRecord_ = readRecord(record_);
  if (!haveRecord_) {
    // A journal from before identities were recorded: the folder is ours
    // when it carries a marker or still holds something the journal knows.
    std::string marker;
    bool known = readMarker(marker);
    std::vector<files::DirEntry> entries;
    if (!known && !files::listDirectory(root_, entries)) {
      known = std::any_of(entries.begin(), entries.end(), [&](const files::DirEntry& e) {
        return !e.name.empty() && e.name[0] != '.' && knowsName_ && knowsName_(nameKey(e.name));
      });
    }
    if (known) return adopt(id, platform::newUuid());
    log_write(kLogError, kModuleSync,
              "sync folder [%s] holds nothing that was synced and no marker: not adopted",
              root_.c_str());
    return set(RootState::Unavailable);
  }
  return check();
}

RootState SyncRoot::check() {
  files::FileId id;
  if (!files::isDirectory(root_) || files::fileId(root_, id)) return set(RootState::Missing);
  // Missing when the run began (a first sync before the disk was mounted):
  // identified now that it is there.
  if (!haveRecord_) return identify();
  std::string marker;
  if (id != record_.id || !readMarker(marker) || marker != record_.marker) {
    return set(RootState::Unavailable);
  }
  return set(RootState::Available);
}

RootState SyncRoot::sameFolder() {
  // Only a full check says the folder is back: an answer of this one alone
  // would make a folder held for its marker read as available meanwhile.
  if (!haveRecord_ || !available_.load()) return check();
  files::FileId id;
  if (files::fileId(root_, id)) return set(RootState::Missing);
  return id == record_.id ? RootState::Available : set(RootState::Unavailable);
}

bool SyncRoot::mountHolds(const std::string& relative) const {
  // The mount's own id, not only its device: a folder of the same file
  // system bound onto it leaves the device as it was.
  const std::string folder = files::joinPath(root_, relative);
  return files::isDirectory(folder) && files::isMountPoint(folder);
}

bool SyncRoot::folderAvailable(const std::string& folder) {
  auto relative = relativeToRoot(root_, folder);
  if (!relative || relative->empty()) return true;
  const bool remembered =
      std::find(record_.mounts.begin(), record_.mounts.end(), *relative) != record_.mounts.end();
  if (remembered) return mountHolds(*relative);
  if (haveRecord_ && mountHolds(*relative)) {
    record_.mounts.push_back(*relative);
    log_write(kLogInfo, kModuleSync, "folder [%s] is a mount point; remembered", folder.c_str());
    writeRecord();
  }
  return true;
}

bool SyncRoot::pathAvailable(const std::string& path) {
  if (record_.mounts.empty()) return true;
  auto relative = relativeToRoot(root_, path);
  if (!relative) return true;
  for (const std::string& mount : record_.mounts) {
    const bool below = *relative == mount || (relative->size() > mount.size() &&
                                              relative->compare(0, mount.size(), mount) == 0 &&
                                              (*relative)[mount.size()] == '/');
    if (below && !mountHolds(mount)) return false;
  }
  return true;
}

}  // namespace varnelo::sync
