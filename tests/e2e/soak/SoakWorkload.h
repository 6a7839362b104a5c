// The random user of a soak run: one operation at a time on one computer's
// sync folder (create, edit in place or by replacement, truncate, delete,
// rename and move files and folders, case twins and case-only renames, with
// names holding spaces, quotes and non-ASCII letters), and the ledger of
// every content it wrote and every content it destroyed.
//
// Each operation draws all its choices from the run's generator before it
// touches the disk, and picks its targets from the computer's view (the
// tree at the start of the round plus what this computer's own operations
// did since), never from what the engines changed meanwhile: the sequence of
// operations is a function of the seed and the round's starting trees. An
// operation whose target has gone by the time it runs is logged as skipped.
//
// Contents a computer's user destroyed (deleted, overwrote, truncated) are
// read from the very inode that was removed or changed (the file is first
// moved out of the folder, or swapped out with an atomic exchange), so that
// a download that landed an instant earlier counts as seen, never as lost.
// Used from the run's thread only.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "SoakComputer.h"
#include "SoakTree.h"

namespace varnelo::soak {

struct Origin {
  int round = 0;
  int pc = 0;
  std::string what;  // the operation's log line
};

class Ledger {
 public:
  // A content a user wrote. Contents that carry their own token line must
  // survive unless destroyed; shorter ones (truncations) only count as known.
  void wrote(const std::string& content, const Origin& origin);
  // A content a user removed or replaced after having it in front of them.
  void destroyed(const std::string& hash) { destroyed_.insert(hash); }
  bool known(const std::string& hash) const { return known_.count(hash) != 0; }
  // Contents written and never destroyed: hash -> where they came from.
  std::map<std::string, Origin> survivors() const;

 private:
  std::map<std::string, Origin> mustSurvive_;
  std::set<std::string> known_;
  std::set<std::string> destroyed_;
};

struct WorkloadMix {
  bool caseNames = true;  // case twins and case-only renames
};

class Workload {
 public:
  Workload(uint64_t seed, std::mt19937_64& random, Ledger& ledger, const WorkloadMix& mix);

  // Starts a round: each computer's view is its tree now; at most
  // `deletionBudget` files may leave their paths in this round (deletes,
  // renames, moves), to stay under the engines' big-delete guard.
  void beginRound(int round, const std::vector<Tree>& views, int deletionBudget);
  // One random operation on `pc`.
  void step(SoakComputer& pc);
  // The first tree, written on `pc` before any engine runs.
  void populate(SoakComputer& pc, int folders, int files);

  // The pieces the edge operations (SoakEdges.h) are made of, each drawing
  // from the run's generator and logging what it did, like step().
  std::string drawName(bool folder) { return newName(folder); }
  std::string drawContent(int pc) { return newContent(pc); }
  // A folder of `pc`'s view ("" is the root) / below the root ("" when none)
  // / a file ("" when none).
  std::string drawFolder(SoakComputer& pc) { return pickFolder(views_[pc.index()]); }
  std::string drawSubfolder(SoakComputer& pc) { return pickFolderBelowRoot(views_[pc.index()]); }
  std::string drawFile(SoakComputer& pc) { return pickFile(views_[pc.index()]); }
  bool hasFolder(SoakComputer& pc, const std::string& path) {
    return path.empty() || views_[pc.index()].folders.count(path) != 0;
  }
  // A new file whose modification time is `mtime` (seconds, no fraction)
  // from the moment it appears, as `cp -p` and `tar` leave them.
  void createStamped(SoakComputer& pc, const std::string& path, const std::string& content,
                     int64_t mtime);
  void createFileAt(SoakComputer& pc, const std::string& path, const std::string& content) {
    createFile(pc, views_[pc.index()], path, content);
  }
  void makeFolderAt(SoakComputer& pc, const std::string& path) {
    makeFolder(pc, views_[pc.index()], path);
  }
  // Overwrites a file of the view in place with other bytes of the same
  // size, then puts its access and modification times back (`touch -r`).
  void rewriteKeepingTimes(SoakComputer& pc);
  // Deletes `path` (in the view or not) when the round's budget still
  // allows as many files as lie there on the disk; false when not.
  bool removeWithinBudget(SoakComputer& pc, const std::string& path);
  // Takes `path` and what lies below it out of `pc`'s view: the workload
  // leaves it alone until the next round reads the disk again.
  void forgetBelow(SoakComputer& pc, const std::string& path);
  // A name the run itself uses, allowed on the service.
  void useName(const std::string& name) { names_.insert(name); }

  // Adds a line to the operation log, under the current round and `pc`.
  void note(SoakComputer& pc, const std::string& line);
  const std::vector<std::string>& log() const { return log_; }
  // Every file and folder name an operation used.
  const std::set<std::string>& names() const { return names_; }

 private:
  struct View {
    std::set<std::string> files, folders;
  };
  std::string newName(bool folder);
  std::string newContent(int pc);
  std::string pickFolder(const View& view);  // "" is the root
  std::string pickFile(const View& view);
  std::string pickFolderBelowRoot(const View& view);
  std::string caseVariant(const std::string& name);
  int filesUnder(const View& view, const std::string& folder) const;

  // Opens a file of the view for reading and writing (fstat into `st`);
  // -1, the file out of the view and the skip logged, when it is no file now.
  int openFileOfView(SoakComputer& pc, View& view, const std::string& path, const std::string& line,
                     struct stat* st);
  void createFile(SoakComputer& pc, View& view, const std::string& path, const std::string& content,
                  const int64_t* mtime = nullptr);
  void makeFolder(SoakComputer& pc, View& view, const std::string& path);
  void replaceFile(SoakComputer& pc, View& view, const std::string& path,
                   const std::string& content);
  void appendFile(SoakComputer& pc, View& view, const std::string& path, const std::string& suffix);
  void truncateFile(SoakComputer& pc, View& view, const std::string& path, uint64_t draw);
  void removeEntry(SoakComputer& pc, View& view, const std::string& path);
  void moveEntry(SoakComputer& pc, View& view, const std::string& from, const std::string& to);

  uint64_t seed_;
  std::mt19937_64& random_;
  Ledger& ledger_;
  WorkloadMix mix_;
  int round_ = 0;
  int budget_ = 0;
  uint64_t serial_ = 0;  // makes every token, staged and trashed name unique
  std::map<int, View> views_;
  std::vector<std::string> log_;
  std::set<std::string> names_;
};

}  // namespace varnelo::soak
