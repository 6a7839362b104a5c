#include "PlaceFile.h"

#include "ConflictNames.h"
#include "Log.h"
#include "platform/file.h"

namespace varnelo::downloader {

namespace files = platform::files;

namespace {

// Puts `from` at `target` over the file the engine saw there, swapping the
// two where the file system can, so that the file that held the name is
// judged once nothing can write to it under that name any more.
std::error_code replaceLooking(const std::string& from, const std::string& target,
                               const files::EntryInfo& expected, Placement& out) {
  std::error_code ec = files::exchange(from, target);
  if (ec == std::errc::not_supported) return files::rename(from, target);
  // Gone since the engine's look: the name is free, and taken only while it is.
  if (ec == std::errc::no_such_file_or_directory) return files::renameNoReplace(from, target);
  if (ec) return ec;
  files::EntryInfo old;
  if (!files::stat(from, old) && sameFile(old, expected)) {
    files::removeFile(from);  // the synced version, which the download replaces
    return {};
  }
  // Written to between the engine's last look and the swap: the user's file
  // gets its name back, and the next remote pass weighs the two versions.
  log_write(kLogInfo, kModuleSync, "changed right before the download took its name:[%s]",
            target.c_str());
  if (!files::exchange(from, target)) return std::make_error_code(std::errc::file_exists);
  // Short of the folder going away this cannot happen; the user's file is
  // kept whatever comes, under its conflicted-copy name where possible.
  const std::string copy = conflictedCopyPath(target);
  if (auto moved = files::renameNoReplace(from, copy)) {
    log_write(kLogError, kModuleSync, "the file that held [%s] stays at [%s], error:[%d]",
              target.c_str(), from.c_str(), moved.value());
    out.keptCopy = from;
  } else {
    out.keptCopy = copy;
  }
  return {};
}

// The rename moved the file's change time. The one recorded is read after
// it, while the file at the name is still the engine's (same inode, size
// and time); otherwise the one from before stays, and whatever changed the
// file meanwhile is seen as a change.
void takeChangeTimeAfterRename(const std::string& target, files::EntryInfo& placed) {
  files::EntryInfo now;
  if (files::stat(target, now) || now.inode != placed.inode || !sameState(now, placed)) return;
  placed.changeTime = now.changeTime;
}

}  // namespace

std::error_code placeFile(const std::string& part, const std::string& target,
                          const files::EntryInfo& expected, std::optional<platform::FileTime> time,
                          Placement& out) {
  const bool free = expected.type == files::EntryType::None;
  auto put = [&](const std::string& from) {
    return free ? files::renameNoReplace(from, target)
                : replaceLooking(from, target, expected, out);
  };
  if (auto ec = files::stat(part, out.placed)) return ec;
  std::error_code ec = put(part);
  if (!ec) takeChangeTimeAfterRename(target, out.placed);
  if (ec != std::errc::cross_device_link) return ec;
  const std::string beside =
      files::joinPath(files::parentPath(target), "." + files::fileName(target) + ".varnelo-part");
  if ((ec = files::copyFile(part, beside))) return ec;
  platform::File copy;
  if (!(ec = copy.open(beside, platform::File::Mode::ReadWrite))) ec = copy.sync();
  copy.close();
  if (!ec && time) files::setLastWriteTime(beside, *time);
  if (!ec) ec = files::stat(beside, out.placed);
  if (!ec) ec = put(beside);
  if (ec) {
    files::removeFile(beside);  // the engine's copy: a swap undone put it back here
    return ec;
  }
  takeChangeTimeAfterRename(target, out.placed);
  files::removeFile(part);
  return {};
}

}  // namespace varnelo::downloader
