// Moving the sync folder: which target folders are acceptable, and the move
// itself. Within one file system into a missing or empty folder the move is
// one rename, so every file keeps everything (times, modes, inode) and the
// folder keeps the identity the engine knows it by (device, inode, the
// marker file inside). Otherwise the contents are copied with their modes
// and times, the copy is verified, and only then are the old files removed.
// Pure file work without windows; the settings sheet asks the questions.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace varnelo::desktop {

enum class MoveTarget { Same, Nested, Empty, NotEmpty };

// Same: nothing to do; Nested: one folder contains the other (refused);
// else whether the target holds anything. Paths compare after cleaning, a
// trailing "/" ignored (Linux names are case-sensitive, so case counts).
MoveTarget classifyMoveTarget(const QString& current, const QString& chosen);

inline constexpr int kCopyCancelled = 1223;

// Copies everything below `from` into `to` (created when missing): regular
// files and folders, each with its mode and its access and modification
// times; links and special files are not followed or copied. A file is
// written under a temporary name and renamed into place once whole.
// `progress(done, total)` returns false to cancel. 0 on success,
// kCopyCancelled, or -1 when something could not be copied. With `made`,
// the folders and files it created (not those it replaced) are appended,
// parents first.
int copyFolderContents(const QString& from, const QString& to,
                       const std::function<bool(int done, int total)>& progress,
                       QStringList* made = nullptr);

// Takes back a copy that did not complete: removes the files of `made` and
// then its folders that are empty, children first. Whatever else came into
// them meanwhile stays.
void removeMade(const QStringList& made);

// Whether every regular file and folder below `from` has its copy below
// `to`: the same kind, size and modification time. Mismatches are logged.
bool verifyCopy(const QString& from, const QString& to);

// After a verified copy: removes below `from` each file whose copy below
// `to` still matches, then the folders left empty, children first, and
// `from` itself when empty. Links, special files and anything that changed
// meanwhile stay.
void removeCopiedSource(const QString& from, const QString& to);

struct FolderMoveResult {
  int code = 0;          // 0, kCopyCancelled or -1
  bool renamed = false;  // one rename: nothing was copied, nothing is left at `from`
  QStringList made;      // for a copy: what it created (for removeMade)
};

// Moves the sync folder's contents from `from` to `to`: the rename when it
// can (same file system, `to` missing or an empty folder), else the verified
// copy; the old files are not removed here (removeCopiedSource, once the new
// folder is in use).
FolderMoveResult moveFolderContents(const QString& from, const QString& to,
                                    const std::function<bool(int done, int total)>& progress);

// Takes back a move that was a rename (the new folder could not be used):
// the folder goes back to `from`, and an empty folder is left at `to` when
// one was there before.
bool undoRename(const QString& from, const QString& to, bool toExisted);

}  // namespace varnelo::desktop
