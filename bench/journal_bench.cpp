// Throughput of the local journals: putPath of 100,000 paths spread over
// 1,000 folders, lookupPath of every one of them, listChildren of every
// folder and of every file (a listing that finds nothing, as a scan's walk
// of a small folder nearly does), and recordFile of 10,000 files in the
// chunk index. Prints operations per second. Not a test: run
// it by hand, on an idle machine, from a build of the RelWithDebInfo type.
//
//   journal_bench [work folder]   (default: a fresh folder under /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ChunkCache.h"
#include "FileJournal.h"
#include "platform/files.h"

using varnelo::sync::FileJournal;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr int kIndexedFiles = 10000;
constexpr int kChunksPerFile = 3;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* what, int count, double seconds) {
  std::printf("%-44s %8d in %7.3f s  %12.0f /s\n", what, count, seconds, count / seconds);
}

std::string filePath(int folder, int file) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "home/Folder%04d/File%03d.dat", folder, file);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  if (argc > 1) {
    dir = argv[1];
  } else {
    char tmpl[] = "/tmp/varnelo-journal-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    dir = tmpl;
  }

  FileJournal journal;
  if (journal.open(platform::files::joinPath(dir, "basefs.db")) != 0) {
    std::fprintf(stderr, "cannot open the journal in %s\n", dir.c_str());
    return 1;
  }
  varnelo::sync::VersionSignature sig{};
  journal.putPath("home", FileJournal::kTypeFolder, sig, 0, 0);

  auto start = Clock::now();
  int puts = 0;
  for (int f = 0; f < kFolders; ++f) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "home/Folder%04d", f);
    if (journal.putPath(folder, FileJournal::kTypeFolder, sig, 0, 0) != 0) return 1;
    ++puts;
    for (int i = 0; i < kFilesPerFolder; ++i) {
      sig[0] = static_cast<uint8_t>(i);
      if (journal.putPath(filePath(f, i), FileJournal::kTypeFile, sig, 1000 + i, i) != 0) return 1;
      ++puts;
    }
  }
  report("journal putPath (100,000 files, 1,000 folders)", puts, secondsSince(start));

  start = Clock::now();
  int found = 0;
  for (int f = 0; f < kFolders; ++f) {
    for (int i = 0; i < kFilesPerFolder; ++i) {
      int64_t id;
      if (journal.lookupPath(filePath(f, i), id) == 0) ++found;
    }
  }
  report("journal lookupPath", found, secondsSince(start));
  if (found != kFolders * kFilesPerFolder) return 1;

  std::vector<int64_t> folderIds(kFolders), fileIds;
  fileIds.reserve(kFolders * kFilesPerFolder);
  for (int f = 0; f < kFolders; ++f) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "home/Folder%04d", f);
    journal.lookupPath(folder, folderIds[f]);
    for (int i = 0; i < kFilesPerFolder; ++i) {
      journal.lookupPath(filePath(f, i), fileIds.emplace_back());
    }
  }
  std::vector<varnelo::sync::JournalEntry> rows;
  start = Clock::now();
  size_t listed = 0;
  for (int64_t id : folderIds) {
    if (journal.listChildren(id, rows) != 0) return 1;
    listed += rows.size();
  }
  report("journal listChildren (1,000 folders of 100)", kFolders, secondsSince(start));
  if (listed != fileIds.size()) return 1;
  start = Clock::now();
  for (int64_t id : fileIds) {
    if (journal.listChildren(id, rows) != 0 || !rows.empty()) return 1;
  }
  report("journal listChildren (100,000 files, none)", static_cast<int>(fileIds.size()),
         secondsSince(start));
  journal.close();

  chunkcache::ChunkCache cache;
  if (cache.open(platform::files::joinPath(dir, "chunks.db"),
                 platform::files::joinPath(dir, "cache")) != 0) {
    return 1;
  }
  std::vector<chunkcache::ChunkKey> keys(kChunksPerFile);
  start = Clock::now();
  for (int n = 0; n < kIndexedFiles; ++n) {
    for (int c = 0; c < kChunksPerFile; ++c) {
      keys[c][0] = static_cast<uint8_t>(n);
      keys[c][1] = static_cast<uint8_t>(n >> 8);
      keys[c][2] = static_cast<uint8_t>(c);
    }
    const std::string path = "/home/user/Sync/" + filePath(n / 100, n % 100);
    if (cache.recordFile(path, 3 * 4194304 - 7, 4194304, keys) != 0) return 1;
  }
  report("chunk index recordFile (3 chunks each)", kIndexedFiles, secondsSince(start));
  cache.close();

  if (argc <= 1) platform::files::removeTree(dir);
  return 0;
}
