// Whole-file and folder operations on UTF-8 paths. Every failure is returned
// as a std::error_code carrying errno; nothing throws. Symbolic links are
// never followed: an entry that is not a regular file or a folder is
// reported as EntryType::Other. Thread safe (no shared state).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/time.h"

namespace platform::files {

enum class EntryType { None, File, Directory, Other };

struct EntryInfo {
  EntryType type = EntryType::None;
  uint64_t size = 0;
  FileTime lastWrite = 0;
  // The inode's change time (moved by every write, also one that sets the
  // modification time back, and by renames and mode changes) and its number.
  FileTime changeTime = 0;
  uint64_t inode = 0;
};

struct DirEntry {
  std::string name;
  EntryInfo info;
};

// Information about `path` itself (not a link's target). A missing path is
// an error (ENOENT) with info.type == None.
std::error_code stat(const std::string& path, EntryInfo& info);
// True when a failed stat() says the path is not there (ENOENT, ENOTDIR);
// false for a path that could not be looked at (no permission on a folder
// above it, an I/O error), which may well still exist.
bool isAbsence(const std::error_code& ec);
// False only when the path is known to be absent (isAbsence): a path that
// cannot be looked at counts as present, so that nothing takes it for gone.
bool exists(const std::string& path);
bool isDirectory(const std::string& path);
bool isRegularFile(const std::string& path);

std::error_code createDirectory(const std::string& path);  // EEXIST when present
std::error_code createDirectories(const std::string& path, unsigned mode = 0777);
std::error_code removeDirectory(const std::string& path);  // empty folders only
std::error_code removeFile(const std::string& path);
// Removes a file or a whole folder tree; a missing path is not an error.
std::error_code removeTree(const std::string& path);
// Atomically replaces `to` with `from` (same file system).
std::error_code rename(const std::string& from, const std::string& to);
// Renames without replacing: EEXIST when `to` exists. On a file system that
// can neither refuse a replace in the rename itself nor link (FAT), `to` is
// checked right before a plain rename.
std::error_code renameNoReplace(const std::string& from, const std::string& to);
// Swaps the two names in one step (both must exist, on one file system).
// ENOTSUP where the file system cannot (FUSE, network file systems).
std::error_code exchange(const std::string& a, const std::string& b);
// Copies the content of `from` over `to`, or, with `failIfExists`, into a
// new file only: EEXIST when `to` exists, even when it appeared just now,
// and a copy that fails half way is removed (it was this call's own file).
std::error_code copyFile(const std::string& from, const std::string& to, bool failIfExists = false);

std::error_code setLastWriteTime(const std::string& path, FileTime time);

std::error_code readFile(const std::string& path, std::string& out);
std::error_code writeFile(const std::string& path, std::string_view data, unsigned mode = 0666);
// Writes to a temporary sibling, flushes it and renames it over `path`.
std::error_code writeFileAtomic(const std::string& path, std::string_view data,
                                unsigned mode = 0666);
// Flushes a folder's entries (a rename or a new name in it) to disk: after
// writeFileAtomic, what makes the new file survive a power loss. A file
// system that cannot flush a folder at all (EINVAL, ENOTSUP: some network
// and FUSE file systems) is not an error: nothing more can be done there.
std::error_code syncDirectory(const std::string& path);
std::error_code readRange(const std::string& path, uint64_t offset, size_t length,
                          std::string& out);
// Bytes this user may still write on the file system holding `path`.
std::error_code availableSpace(const std::string& path, uint64_t& out);
// Bytes of disk the file at `path` takes: less than its size where it has
// holes (a file written out of order), a little more where blocks round up.
std::error_code allocatedSpace(const std::string& path, uint64_t& out);

// Entries of a folder except "." and "..", in no particular order.
std::error_code listDirectory(const std::string& path, std::vector<DirEntry>& out);

// "a" + "b" → "a/b" (no doubled separator).
std::string joinPath(std::string_view base, std::string_view name);
// Parent folder of a path ("" for a bare name) and the last component.
std::string parentPath(std::string_view path);
std::string fileName(std::string_view path);

}  // namespace platform::files
