#include "SoakEdges.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>

#include "SoakTree.h"
#include "SyncFilter.h"

namespace varnelo::soak {
namespace {

constexpr const char* kMountName = "Disk";
// Folder names of deep paths: plain ASCII, so a path's length in the
// engine's units is its length in bytes.
const char* const kLevels[] = {"level one", "second-level", "3rd level folder", "nested",
                               "deeper still"};

std::string join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}
std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::string Edges::deepNesting() {
  return "/a-deeper-home-folder-0123456789abcdef/and-a-second-level-0123456789abcdef";
}

bool Edges::setUp(bool mounts, std::string* why) {
  excluded_.assign(computers_.size(), std::string());
  workload_.useName(kMountName);
  for (const char* level : kLevels) workload_.useName(level);
  if (!mounts) return true;
  SoakComputer& pc = *computers_.back();
  mount_ = std::make_unique<SubMount>(pc.home() + "/disk", pc.path(kMountName));
  if (!mount_->attach(why)) return false;
  workload_.note(pc, std::string("mounted a file system of its own at '") + kMountName + "'");
  return true;
}

SoakComputer& Edges::other(const SoakComputer& than, uint64_t draw) {
  const size_t k = computers_.size();
  return *computers_[(static_cast<size_t>(than.index()) + 1 + draw % (k - 1)) % k];
}

bool Edges::step(std::string* why) {
  const uint64_t draw = random_();
  switch (draw % 24) {
    case 0:
    case 1:
      stampedTwins(draw >> 8);
      break;
    case 2:
    case 3:
      workload_.rewriteKeepingTimes(pick(draw >> 8));
      break;
    case 4:
      deepFile(draw >> 8);
      break;
    case 5:
      deleteDeepTop(draw >> 8);
      break;
    case 6:
      return exclude(draw >> 8, why);
    case 7:
    case 8:
      writeIntoExcluded(draw >> 8);
      break;
    case 9:
      deleteAboveExcluded(draw >> 8);
      break;
    case 10:
      return toggleMount(why);
    case 11:
    case 12:
      writeIntoMount(draw >> 8);
      break;
    default:
      break;
  }
  return true;
}

void Edges::stampedTwins(uint64_t draw) {
  SoakComputer& a = pick(draw);
  SoakComputer& b = other(a, draw >> 8);
  std::string folder = workload_.drawFolder(a);
  if (!workload_.hasFolder(b, folder)) folder.clear();
  const std::string path = join(folder, workload_.drawName(false));
  std::string first = workload_.drawContent(a.index());
  std::string second = workload_.drawContent(b.index());
  // Equal sizes: the shorter one is padded, so both keep their token line.
  const size_t size = std::max(first.size(), second.size());
  first.resize(size, '.');
  second.resize(size, '.');
  const int64_t mtime = 1700000000 + static_cast<int64_t>((draw >> 16) % 10000000);
  workload_.createStamped(a, path, first, mtime);
  workload_.createStamped(b, path, second, mtime);
}

void Edges::deepFile(uint64_t draw) {
  SoakComputer& pc = pick(draw);
  const SoakComputer& deep = *computers_.back();
  size_t shallowRoot = 0;
  for (const auto& c : computers_) {
    if (c.get() != &deep) shallowRoot = std::max(shallowRoot, c->root().size());
  }
  // The longest relative path every computer but the last can hold, and
  // the shortest the last one cannot.
  const size_t limit = sync::SyncFilter::kMaxPathUnits;
  const size_t fitsShallow = limit - 2 - shallowRoot;
  const size_t tooDeep = limit - 1 - deep.root().size();
  const bool tooLong = &pc != &deep && (draw >> 8) % 2 == 1 && tooDeep <= fitsShallow;
  const size_t target =
      tooLong ? tooDeep + (draw >> 16) % (fitsShallow - tooDeep + 1) : 60 + (draw >> 16) % 60;
  const std::string top = workload_.drawName(true);
  const std::string file = workload_.drawName(false);
  const std::string content = workload_.drawContent(pc.index());
  if (exists(pc.path(top))) return;
  std::string path = top;
  for (size_t i = 0; path.size() + 1 + file.size() < target; ++i) {
    const std::string next = join(path, kLevels[(draw + i) % std::size(kLevels)]);
    if (next.size() + 1 + file.size() > target) break;
    path = next;
  }
  std::string folder = path;
  if (path.size() + 2 + file.size() < target) {
    // Pads the last level so that the file's path has exactly the length.
    folder += "/" + std::string(target - path.size() - 2 - file.size(), 'x');
    workload_.useName(folder.substr(folder.rfind('/') + 1));
  }
  for (size_t at = 0; at != std::string::npos;) {
    at = folder.find('/', at + 1);
    workload_.makeFolderAt(pc, folder.substr(0, at));
  }
  workload_.createFileAt(pc, folder + "/" + file, content);
  deepTops_.push_back(top);
  workload_.note(pc, "deep path of " + std::to_string(folder.size() + 1 + file.size()) + " bytes" +
                         (tooLong ? ", too long for pc" + std::to_string(deep.index()) : ""));
}

void Edges::deleteDeepTop(uint64_t draw) {
  SoakComputer& deep = *computers_.back();
  if (deepTops_.empty()) return;
  const std::string top = deepTops_[draw % deepTops_.size()];
  if (exists(deep.path(top)) && workload_.removeWithinBudget(deep, top))
    workload_.note(deep, "deleted the deep folder '" + top + "'");
}

bool Edges::exclude(uint64_t draw, std::string* why) {
  SoakComputer& pc = pick(draw);
  if (!excluded_[pc.index()].empty() || !pc.running()) return true;
  const std::string folder = workload_.drawSubfolder(pc);
  if (folder.empty() || folder == kMountName || folder.rfind(std::string(kMountName) + "/", 0) == 0)
    return true;
  if (!pc.exclude("home/" + folder)) {
    *why = "pc" + std::to_string(pc.index()) + ": excluding '" + folder + "' failed";
    return false;
  }
  excluded_[pc.index()] = folder;
  // What lies there is this computer's alone now: its user leaves it be.
  workload_.forgetBelow(pc, folder);
  workload_.note(pc, "excluded '" + folder + "'");
  return true;
}

void Edges::writeIntoExcluded(uint64_t draw) {
  for (size_t i = 0; i < computers_.size(); ++i) {
    const std::string& folder = excluded_[(i + draw) % computers_.size()];
    if (folder.empty()) continue;
    SoakComputer& writer = other(*computers_[(i + draw) % computers_.size()], draw >> 8);
    if (!workload_.hasFolder(writer, folder)) return;
    workload_.createFileAt(writer, join(folder, workload_.drawName(false)),
                           workload_.drawContent(writer.index()));
    return;
  }
}

void Edges::deleteAboveExcluded(uint64_t draw) {
  SoakComputer& pc = pick(draw);
  const std::string above = parentOf(excluded_[pc.index()]);
  if (above.empty() || !exists(pc.path(above))) return;
  if (workload_.removeWithinBudget(pc, above))
    workload_.note(pc, "deleted '" + above + "', above its excluded folder");
}

bool Edges::toggleMount(std::string* why) {
  if (!mount_) return true;
  SoakComputer& pc = *computers_.back();
  if (mount_->attached()) {
    if (!mount_->detach(why)) return false;
    workload_.forgetBelow(pc, kMountName);
    workload_.note(pc, std::string("unmounted '") + kMountName + "'");
  } else {
    if (!mount_->attach(why)) return false;
    workload_.note(pc, std::string("mounted '") + kMountName + "' again");
  }
  return true;
}

void Edges::writeIntoMount(uint64_t draw) {
  if (!mount_) return;
  SoakComputer& writer = other(*computers_.back(), draw);
  if (!workload_.hasFolder(writer, kMountName)) return;
  workload_.createFileAt(writer, join(kMountName, workload_.drawName(false)),
                         workload_.drawContent(writer.index()));
}

bool Edges::settle(std::string* why) {
  for (size_t i = 0; i < excluded_.size(); ++i) {
    if (excluded_[i].empty()) continue;
    if (!computers_[i]->exclude("")) {
      *why = "pc" + std::to_string(i) + ": lifting the exclusion failed";
      return false;
    }
    workload_.note(*computers_[i], "no folder excluded any more");
    excluded_[i].clear();
  }
  if (mount_ && !mount_->attached()) {
    if (!mount_->attach(why)) return false;
    workload_.note(*computers_.back(), std::string("mounted '") + kMountName + "' again");
  }
  return true;
}

}  // namespace varnelo::soak
