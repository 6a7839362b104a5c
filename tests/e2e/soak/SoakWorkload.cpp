#include "SoakWorkload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace varnelo::soak {
namespace {

// Longest relative path an operation makes: deep enough for nesting, far
// from the engine's limit on whole paths.
constexpr size_t kMaxRelativePath = 120;

const char* const kStems[] = {
    "report", "Notes",   "photo",  "my file", "it's here", "say \"hi\"", "café",
    "Ärger",  "naïve",   "日本語", "Ωmega",   "résumé",    "two  words", "data_2",
    "Budget", "a (1) b", "x-y",    "ÉTÉ",     "straße",    "Q&A",        "100%",
};
const char* const kExtensions[] = {".txt", ".bin", "", ".tar.gz", ".md", ".TXT", ".jpeg"};

enum Op {
  kCreateFile,
  kMakeFolder,
  kReplaceFile,
  kAppendFile,
  kTruncateFile,
  kDeleteFile,
  kDeleteFolder,
  kRenameFile,
  kMoveFile,
  kRenameFolder,
  kMoveFolder,
  kCaseTwin,
  kCaseRename,
  kOpCount
};
const int kWeights[kOpCount] = {22, 6, 12, 8, 5, 8, 3, 6, 5, 3, 3, 5, 3};

std::string join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "/" + name;
}
std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
bool isBelow(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

template <class Set>
std::string elementAt(const Set& set, uint64_t draw) {
  auto it = set.begin();
  std::advance(it, static_cast<long>(draw % set.size()));
  return *it;
}

bool readAll(int fd, std::string* out) {
  out->clear();
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buffer, static_cast<size_t>(n));
    at += n;
  }
}
bool readFile(const std::string& path, std::string* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = readAll(fd, out);
  close(fd);
  return ok;
}
bool writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out.flush());
}
std::string errorText() {
  return std::strerror(errno);
}
std::string shortHash(const std::string& content) {
  return sha1Hex(content).substr(0, 8);
}

// The length of the token line a content starts with (0 when none).
size_t tokenLength(const std::string& content) {
  if (content.rfind("soak:", 0) != 0) return 0;
  const size_t newline = content.find('\n');
  return newline == std::string::npos ? 0 : newline + 1;
}

void removeTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace

void Ledger::wrote(const std::string& content, const Origin& origin) {
  const std::string hash = sha1Hex(content);
  known_.insert(hash);
  if (tokenLength(content) > 0) mustSurvive_.emplace(hash, origin);
}

std::map<std::string, Origin> Ledger::survivors() const {
  std::map<std::string, Origin> out;
  for (const auto& [hash, origin] : mustSurvive_) {
    if (!destroyed_.count(hash)) out.emplace(hash, origin);
  }
  return out;
}

Workload::Workload(uint64_t seed, std::mt19937_64& random, Ledger& ledger, const WorkloadMix& mix)
    : seed_(seed), random_(random), ledger_(ledger), mix_(mix) {}

void Workload::beginRound(int round, const std::vector<Tree>& views, int deletionBudget) {
  round_ = round;
  budget_ = deletionBudget;
  views_.clear();
  for (size_t i = 0; i < views.size(); ++i) {
    View& view = views_[static_cast<int>(i)];
    for (const auto& [path, what] : views[i])
      (what == "D" ? view.folders : view.files).insert(path);
  }
}

void Workload::populate(SoakComputer& pc, int folders, int files) {
  View& view = views_[pc.index()];
  for (int i = 0; i < folders; ++i) {
    const uint64_t draw = random_();
    const std::string parent = pickFolder(view);
    const std::string path = join(draw % 3 == 0 ? parent : std::string(), newName(true));
    makeFolder(pc, view, path);
  }
  for (int i = 0; i < files; ++i) {
    const std::string parent = pickFolder(view);
    const std::string path = join(parent, newName(false));
    createFile(pc, view, path, newContent(pc.index()));
  }
}

std::string Workload::newName(bool folder) {
  const uint64_t draw = random_();
  std::string name = kStems[draw % std::size(kStems)];
  if ((draw >> 8) % 2) name += " " + std::to_string((draw >> 12) % 100);
  if (!folder) name += kExtensions[(draw >> 20) % std::size(kExtensions)];
  return name;
}

std::string Workload::newContent(int pc) {
  const uint64_t draw = random_();
  size_t size;
  switch (draw % 20) {
    case 0:  // chunked uploads and ranged downloads
      size = 50000 + (draw >> 8) % 550000;
      break;
    case 1:
    case 2:  // around the one-request limit of 16384 bytes
      size = 16370 + (draw >> 8) % 30;
      break;
    case 3:
    case 4:
    case 5:
    case 6:
      size = 200 + (draw >> 8) % 16000;
      break;
    default:
      size = (draw >> 8) % 200;
  }
  std::string content = "soak:" + std::to_string(seed_) + ":" + std::to_string(round_) + ":pc" +
                        std::to_string(pc) + ":" + std::to_string(++serial_) + "\n";
  if (content.size() < size) {
    const size_t start = content.size();
    content.resize(size);
    uint64_t bits = 0;
    for (size_t i = start; i < size; ++i) {
      if ((i - start) % 8 == 0) bits = random_();
      const unsigned v = static_cast<unsigned>(bits & 63);
      bits >>= 8;
      content[i] = v == 0 ? '\n' : static_cast<char>('!' + v);
    }
  }
  return content;
}

std::string Workload::pickFolder(const View& view) {
  const uint64_t draw = random_();
  if (view.folders.empty() || draw % 4 == 0) return std::string();
  return elementAt(view.folders, draw >> 2);
}
std::string Workload::pickFile(const View& view) {
  const uint64_t draw = random_();
  return view.files.empty() ? std::string() : elementAt(view.files, draw);
}
std::string Workload::pickFolderBelowRoot(const View& view) {
  const uint64_t draw = random_();
  return view.folders.empty() ? std::string() : elementAt(view.folders, draw);
}

std::string Workload::caseVariant(const std::string& name) {
  const uint64_t mask = random_();
  std::string out = name;
  size_t letters = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    char& c = out[i];
    const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    if (!upper && !lower) continue;
    if ((mask >> (letters++ % 64)) & 1) c = static_cast<char>(upper ? c + 32 : c - 32);
  }
  if (letters == 0) return std::string();
  if (out == name) {
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c + 32);
      else if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 32);
      else
        continue;
      break;
    }
  }
  return out;
}

int Workload::filesUnder(const View& view, const std::string& folder) const {
  int n = 0;
  for (const std::string& f : view.files) n += isBelow(f, folder);
  return n;
}

void Workload::note(SoakComputer& pc, const std::string& line) {
  log_.push_back("r" + std::to_string(round_) + " pc" + std::to_string(pc.index()) + " " + line);
}

void Workload::step(SoakComputer& pc) {
  View& view = views_[pc.index()];
  // Every choice is drawn first, in a fixed order, whatever the operation.
  int total = 0;
  for (int op = 0; op < kOpCount; ++op)
    total += (!mix_.caseNames && (op == kCaseTwin || op == kCaseRename)) ? 0 : kWeights[op];
  int pick = static_cast<int>(random_() % static_cast<uint64_t>(total));
  int op = 0;
  for (; op < kOpCount; ++op) {
    const int w = (!mix_.caseNames && (op == kCaseTwin || op == kCaseRename)) ? 0 : kWeights[op];
    if (pick < w) break;
    pick -= w;
  }
  const std::string folder = pickFolder(view);
  const std::string otherFolder = pickFolder(view);
  const std::string file = pickFile(view);
  const std::string subfolder = pickFolderBelowRoot(view);
  const std::string fileName = newName(false);
  const std::string folderName = newName(true);
  const std::string content = newContent(pc.index());
  const uint64_t draw = random_();
  const std::string twinSource =
      (draw % 2 && !subfolder.empty()) || file.empty() ? subfolder : file;
  const std::string variant =
      twinSource.empty() ? std::string() : caseVariant(baseName(twinSource));

  auto fits = [&](const std::string& path) { return path.size() <= kMaxRelativePath; };
  auto spend = [&](int files) {
    if (files > budget_) return false;
    budget_ -= files;
    return true;
  };
  const std::string newFile = join(folder, fileName);
  switch (op) {
    case kMakeFolder:
      if (!fits(join(folder, folderName) + "/" + fileName)) break;
      makeFolder(pc, view, join(folder, folderName));
      if (draw % 2) createFile(pc, view, join(join(folder, folderName), fileName), content);
      return;
    case kReplaceFile:
      if (file.empty()) break;
      replaceFile(pc, view, file, content);
      return;
    case kAppendFile:
      if (file.empty()) break;
      appendFile(pc, view, file, content);
      return;
    case kTruncateFile:
      if (file.empty()) break;
      truncateFile(pc, view, file, draw);
      return;
    case kDeleteFile:
      if (file.empty() || !spend(1)) break;
      removeEntry(pc, view, file);
      return;
    case kDeleteFolder:
      if (subfolder.empty() || !spend(filesUnder(view, subfolder))) break;
      removeEntry(pc, view, subfolder);
      return;
    case kRenameFile:
      if (file.empty() || !fits(join(parentOf(file), fileName)) || !spend(1)) break;
      moveEntry(pc, view, file, join(parentOf(file), fileName));
      return;
    case kMoveFile: {
      if (file.empty() || parentOf(file) == otherFolder) break;
      const std::string to = join(otherFolder, baseName(file));
      if (!fits(to) || !spend(1)) break;
      moveEntry(pc, view, file, to);
      return;
    }
    case kRenameFolder: {
      if (subfolder.empty()) break;
      const std::string to = join(parentOf(subfolder), folderName);
      if (!fits(to) || !spend(filesUnder(view, subfolder))) break;
      moveEntry(pc, view, subfolder, to);
      return;
    }
    case kMoveFolder: {
      if (subfolder.empty() || otherFolder == parentOf(subfolder) || otherFolder == subfolder ||
          isBelow(otherFolder, subfolder))
        break;
      const std::string to = join(otherFolder, baseName(subfolder));
      size_t deepest = subfolder.size();
      for (const std::string& f : view.files) {
        if (isBelow(f, subfolder)) deepest = std::max(deepest, f.size());
      }
      if (!fits(to) || deepest - subfolder.size() + to.size() > kMaxRelativePath ||
          !spend(filesUnder(view, subfolder)))
        break;
      moveEntry(pc, view, subfolder, to);
      return;
    }
    case kCaseTwin: {
      if (variant.empty()) break;
      const std::string twin = join(parentOf(twinSource), variant);
      if (view.folders.count(twinSource)) {
        if (!fits(twin + "/" + fileName)) break;
        makeFolder(pc, view, twin);
        createFile(pc, view, twin + "/" + fileName, content);
      } else {
        createFile(pc, view, twin, content);
      }
      return;
    }
    case kCaseRename: {
      if (variant.empty()) break;
      const int files = view.folders.count(twinSource) ? filesUnder(view, twinSource) : 1;
      if (!spend(files)) break;
      moveEntry(pc, view, twinSource, join(parentOf(twinSource), variant));
      return;
    }
    default:
      break;
  }
  // kCreateFile, and every operation whose preconditions did not hold.
  if (fits(newFile)) createFile(pc, view, newFile, content);
}

void Workload::createFile(SoakComputer& pc, View& view, const std::string& path,
                          const std::string& content, const int64_t* mtime) {
  names_.insert(baseName(path));
  const std::string line = "create '" + path + "' " + shortHash(content) + " (" +
                           std::to_string(content.size()) + " bytes)";
  const std::string staged = pc.stage() + "/s" + std::to_string(++serial_);
  if (!writeFile(staged, content)) {
    note(pc, line + " skipped: cannot stage");
    return;
  }
  if (mtime) {
    const timespec times[2] = {{*mtime, 0}, {*mtime, 0}};
    utimensat(AT_FDCWD, staged.c_str(), times, 0);
  }
  // Moved in whole, never over something that is there already.
  if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, pc.path(path).c_str(), RENAME_NOREPLACE) != 0) {
    note(pc, line + " skipped: " + errorText());
    unlink(staged.c_str());
    return;
  }
  ledger_.wrote(content, Origin{round_, pc.index(), line});
  view.files.insert(path);
  note(pc, mtime ? line + " stamped " + std::to_string(*mtime) : line);
}

void Workload::createStamped(SoakComputer& pc, const std::string& path, const std::string& content,
                             int64_t mtime) {
  createFile(pc, views_[pc.index()], path, content, &mtime);
}

int Workload::openFileOfView(SoakComputer& pc, View& view, const std::string& path,
                             const std::string& line, struct stat* st) {
  const int fd = open(pc.path(path).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 && fstat(fd, st) == 0 && S_ISREG(st->st_mode)) return fd;
  if (fd >= 0) close(fd);
  view.files.erase(path);
  note(pc, line + " skipped: not a file now");
  return -1;
}

void Workload::rewriteKeepingTimes(SoakComputer& pc) {
  View& view = views_[pc.index()];
  const std::string path = pickFile(view);
  const std::string fresh = newContent(pc.index());
  if (path.empty()) return;
  const std::string line = "rewrite '" + path + "' keeping its times";
  struct stat st {};
  const int fd = openFileOfView(pc, view, path, line, &st);
  if (fd < 0) return;
  std::string old;
  readAll(fd, &old);
  if (old.empty()) {
    close(fd);
    note(pc, line + " skipped: empty");
    return;
  }
  // The new bytes carry a token of their own only when the file can hold
  // it; a shorter file still changes, and what it held counts as seen.
  std::string content = fresh;
  content.resize(old.size(), '.');
  if (content == old) content[0] = content[0] == '#' ? '$' : '#';
  const bool ok =
      pwrite(fd, content.data(), content.size(), 0) == static_cast<ssize_t>(content.size());
  const timespec times[2] = {st.st_atim, st.st_mtim};
  const bool kept = futimens(fd, times) == 0;
  close(fd);
  ledger_.destroyed(sha1Hex(old));
  ledger_.wrote(content, Origin{round_, pc.index(), line});
  note(pc,
       line + " " + shortHash(old) + " -> " + shortHash(content) + (ok && kept ? "" : " (failed)"));
}

bool Workload::removeWithinBudget(SoakComputer& pc, const std::string& path) {
  int files = 0;
  struct stat st {};
  if (lstat(pc.path(path).c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    for (const auto& [rel, what] : readLocalTree(pc.path(path))) files += what != "D";
  } else {
    files = 1;
  }
  if (files > budget_) return false;
  budget_ -= files;
  removeEntry(pc, views_[pc.index()], path);
  return true;
}

void Workload::forgetBelow(SoakComputer& pc, const std::string& path) {
  View& view = views_[pc.index()];
  for (auto* set : {&view.files, &view.folders}) {
    for (auto it = set->begin(); it != set->end();)
      it = (*it == path || isBelow(*it, path)) ? set->erase(it) : ++it;
  }
}

void Workload::makeFolder(SoakComputer& pc, View& view, const std::string& path) {
  names_.insert(baseName(path));
  if (mkdir(pc.path(path).c_str(), 0755) != 0 && errno != EEXIST) {
    note(pc, "mkdir '" + path + "' skipped: " + errorText());
    return;
  }
  view.folders.insert(path);
  note(pc, "mkdir '" + path + "'");
}

void Workload::replaceFile(SoakComputer& pc, View& view, const std::string& path,
                           const std::string& content) {
  const std::string line = "replace '" + path + "' with " + shortHash(content) + " (" +
                           std::to_string(content.size()) + " bytes)";
  const std::string staged = pc.stage() + "/s" + std::to_string(++serial_);
  struct stat st {};
  if (lstat(pc.path(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    view.files.erase(path);
    note(pc, line + " skipped: not a file now");
    return;
  }
  if (!writeFile(staged, content)) return;
  // The exchange leaves exactly the replaced inode at the staged name.
  if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, pc.path(path).c_str(), RENAME_EXCHANGE) != 0) {
    view.files.erase(path);
    note(pc, line + " skipped: " + errorText());
    unlink(staged.c_str());
    return;
  }
  std::string old;
  if (lstat(staged.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A folder arrived there an instant ago: put it back.
    renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, pc.path(path).c_str(), RENAME_EXCHANGE);
    unlink(staged.c_str());
    note(pc, line + " skipped: a folder now");
    return;
  }
  readFile(staged, &old);
  unlink(staged.c_str());
  ledger_.destroyed(sha1Hex(old));
  ledger_.wrote(content, Origin{round_, pc.index(), line});
  note(pc, line + " (was " + shortHash(old) + ")");
}

void Workload::appendFile(SoakComputer& pc, View& view, const std::string& path,
                          const std::string& suffix) {
  const std::string line = "append to '" + path + "'";
  struct stat st {};
  const int fd = openFileOfView(pc, view, path, line, &st);
  if (fd < 0) return;
  std::string old;
  readAll(fd, &old);
  const std::string content = old + suffix;
  const bool ok = pwrite(fd, suffix.data(), suffix.size(), static_cast<off_t>(old.size())) ==
                  static_cast<ssize_t>(suffix.size());
  close(fd);
  ledger_.destroyed(sha1Hex(old));
  ledger_.wrote(content, Origin{round_, pc.index(), line});
  note(pc,
       line + " " + shortHash(old) + " -> " + shortHash(content) + (ok ? "" : " (short write)"));
}

void Workload::truncateFile(SoakComputer& pc, View& view, const std::string& path, uint64_t draw) {
  const std::string line = "truncate '" + path + "'";
  struct stat st {};
  const int fd = openFileOfView(pc, view, path, line, &st);
  if (fd < 0) return;
  std::string old;
  readAll(fd, &old);
  // Mostly to a length that keeps the token line, sometimes to nothing.
  const size_t keep = tokenLength(old);
  size_t size = 0;
  if (draw % 5 != 0 && old.size() > keep) size = keep + (draw >> 8) % (old.size() - keep);
  const bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
  close(fd);
  ledger_.destroyed(sha1Hex(old));
  ledger_.wrote(old.substr(0, size), Origin{round_, pc.index(), line});
  note(pc, line + " " + shortHash(old) + " -> " + std::to_string(size) + " bytes " +
               shortHash(old.substr(0, size)) + (ok ? "" : " (failed)"));
}

void Workload::removeEntry(SoakComputer& pc, View& view, const std::string& path) {
  const std::string trashed = pc.trash() + "/t" + std::to_string(++serial_);
  auto forget = [&] {
    view.files.erase(path);
    view.folders.erase(path);
    for (auto* set : {&view.files, &view.folders}) {
      for (auto it = set->begin(); it != set->end();)
        it = isBelow(*it, path) ? set->erase(it) : ++it;
    }
  };
  // Moved out first, so that what is counted as seen is exactly what went.
  if (renameat2(AT_FDCWD, pc.path(path).c_str(), AT_FDCWD, trashed.c_str(), RENAME_NOREPLACE) !=
      0) {
    forget();
    note(pc, "delete '" + path + "' skipped: " + errorText());
    return;
  }
  struct stat st {};
  lstat(trashed.c_str(), &st);
  int files = 0;
  if (S_ISDIR(st.st_mode)) {
    for (const auto& [rel, what] : readLocalTree(trashed)) {
      if (what == "D") continue;
      ledger_.destroyed(entryHash(what));
      ++files;
    }
  } else {
    std::string old;
    readFile(trashed, &old);
    ledger_.destroyed(sha1Hex(old));
    files = 1;
  }
  removeTree(trashed);
  forget();
  note(pc, "delete '" + path + "' (" + std::to_string(files) + " files)");
}

void Workload::moveEntry(SoakComputer& pc, View& view, const std::string& from,
                         const std::string& to) {
  names_.insert(baseName(to));
  const std::string line = "move '" + from + "' to '" + to + "'";
  if (renameat2(AT_FDCWD, pc.path(from).c_str(), AT_FDCWD, pc.path(to).c_str(), RENAME_NOREPLACE) !=
      0) {
    if (errno == ENOENT) {
      for (auto* set : {&view.files, &view.folders}) {
        for (auto it = set->begin(); it != set->end();)
          it = (*it == from || isBelow(*it, from)) ? set->erase(it) : ++it;
      }
    }
    note(pc, line + " skipped: " + errorText());
    return;
  }
  for (auto* set : {&view.files, &view.folders}) {
    std::set<std::string> moved;
    for (auto it = set->begin(); it != set->end();) {
      if (*it == from || isBelow(*it, from)) {
        moved.insert(to + it->substr(from.size()));
        it = set->erase(it);
      } else {
        ++it;
      }
    }
    set->insert(moved.begin(), moved.end());
  }
  note(pc, line);
}

}  // namespace varnelo::soak
