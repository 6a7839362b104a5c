// Trees of a soak run and the rule that says when a computer has caught up
// with the service. A tree maps a path below the sync folder ("a/b.txt") to
// "D" (folder) or "F <size> <sha1>" (file); hidden names (the engine's own
// files) are left out on the local side.
//
// A computer agrees with the service when:
//  - every remote entry exists locally with the same kind and content, under
//    the same path; followed one name at a time, a name missing locally may
//    be stood for by its only case variant in that folder (a rename that
//    changed nothing but letter case is not sent), never by one of several
//    (twins the engine reported unsupported do not count, not even one
//    spelled as the service spells the name);
//  - every local entry left over is, or lies below, a path whose latest
//    result from that computer's engine was -113 (unsupported, e.g. the
//    newcomer of two names that differ only in case);
//  - a remote entry may be missing locally only when its local path is such
//    an unsupported path too.
// Pure functions; thread safe.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace varnelo::soak {

using Tree = std::map<std::string, std::string>;

std::string sha1Hex(const std::string& bytes);
std::string fileEntry(const std::string& content);
// The SHA-1 part of a "F <size> <sha1>" entry, empty for folders.
std::string entryHash(const std::string& what);

// The tree below `root`, read from the disk.
Tree readLocalTree(const std::string& root);

// A-Z folded to a-z, byte by byte, as the service and the journal compare.
std::string foldCase(const std::string& text);

// The differences that keep `local` from agreeing with `remote` (empty when
// they agree), one line each. `unsupported` holds paths relative to the root.
std::vector<std::string> compareWithRemote(const Tree& local, const Tree& remote,
                                           const std::set<std::string>& unsupported);

// Whether `path` is `unsupported` itself or lies below one of its entries.
bool isUnsupported(const std::string& path, const std::set<std::string>& unsupported);

// The name a conflicted copy was made from ("a (Conflicted copy
// 2026-12-08_10-11-12).txt" -> "a.txt"); the name itself when it is none.
std::string nameBeforeConflict(const std::string& name);

}  // namespace varnelo::soak
