#include "SyncProgress.h"

#include <cstdio>

#include "varnelo/IVarneloEvent.h"

namespace varnelo::cli {
namespace {

// The last `room` bytes of `text` behind "...", starting on a character
// boundary so that no UTF-8 sequence is cut.
std::string keepEnd(const std::string& text, size_t room) {
  if (text.size() <= room) return text;
  if (room <= 3) return "";
  size_t from = text.size() - (room - 3);
  while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;
  return "..." + text.substr(from);
}

}  // namespace

std::string formatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string formatStatusLine(const ProgressSnapshot& s, size_t width) {
  const char* state = "scanning";
  if (s.engineState & kEnginePaused) {
    state = "paused";
  } else if ((s.engineState & kEngineUploading) && (s.engineState & kEngineDownloading)) {
    state = "syncing";
  } else if (s.engineState & kEngineUploading) {
    state = "uploading";
  } else if (s.engineState & kEngineDownloading) {
    state = "downloading";
  } else if (s.inStep) {
    state = "in step";
  }
  std::string tail = "  up " + formatBytes(s.uploadSpeed) + "/s  down " +
                     formatBytes(s.downloadSpeed) + "/s  | " + std::to_string(s.uploaded) +
                     " up, " + std::to_string(s.downloaded) + " down";
  if (s.failed) tail += ", " + std::to_string(s.failed) + " failed";
  std::string head = state;
  std::string file;
  if (!s.currentFile.empty() && !s.inStep) {
    int percent = s.currentTotal ? static_cast<int>(s.currentDone * 100 / s.currentTotal) : 0;
    if (percent > 100) percent = 100;
    file = s.currentFile;
    tail = " " + std::to_string(percent) + "%" + tail;
  }
  size_t fixed = head.size() + 2 + tail.size();
  if (!file.empty()) {
    // The file name shrinks from the left: its end tells more than its start.
    size_t room = width > fixed ? width - fixed : 0;
    file = keepEnd(file, room);
    head += "  " + file;
  }
  std::string line = head + tail;
  if (line.size() > width) line.resize(width);
  return line;
}

OnceProgress onceProgress(const varnelo_sync_state& state, bool uploadOnly) {
  if (state.converged) return OnceProgress::InStep;
  bool roundDone = state.running && !state.paused && state.localScans > 0 &&
                   (uploadOnly || state.remotePasses > 0);
  if (roundDone && state.queued == 0 && state.inFlight == 0 && state.retrying > 0) {
    return OnceProgress::Stuck;
  }
  return OnceProgress::Working;
}

}  // namespace varnelo::cli
