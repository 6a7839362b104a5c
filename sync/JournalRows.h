// Small journal steps the transfer paths share: reading the row of a path
// and writing a row whose parent folders may be missing (a file uploaded
// from a folder the remote pass has not recorded yet). Sync thread only,
// like the journal itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "FileJournal.h"

namespace varnelo {

// The row of `journalPath`, or nothing when the journal has none.
std::optional<sync::JournalEntry> journalRow(sync::FileJournal& journal,
                                             std::string_view journalPath);

// putPath; when a parent folder has no row, the missing folders are added
// first with an all-zero signature (so the next remote pass lists them).
// `madeFolders` (when given) gets how many were added: always the nearest
// folders above the path, as a row never stands without its parent's.
// 0 or the journal's code.
int putRowWithParents(sync::FileJournal& journal, std::string_view journalPath, int type,
                      const sync::VersionSignature& sig, uint64_t size, uint64_t editTime,
                      int* madeFolders = nullptr, const sync::FileStamp& stamp = {});

// Gives every folder row above `journalPath` an all-zero signature, so the
// next remote pass lists each of them again (rows that are missing are
// skipped). 0 or the journal's code.
int markFoldersOutOfStep(sync::FileJournal& journal, std::string_view journalPath);

}  // namespace varnelo
