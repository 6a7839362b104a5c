// Moving the sync folder: which target folders are acceptable, and the copy
// of the old folder's contents into the new one (the old folder stays). Pure
// file work without windows; the settings sheet asks the questions.
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
// files and folders; links and special files are not followed or copied.
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

}  // namespace varnelo::desktop
