// Local change monitor benchmark: how long start() takes over a tree of
// 10,000 folders, and the delay from a file write to the receiver's
// callback and for a burst of 10,000 new files. Run by hand:
// build-dir/bench/monitor_bench [folders] [writes]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "WinMonitor.h"
#include "platform/files.h"

namespace files = platform::files;
using Clock = std::chrono::steady_clock;

namespace {

// Counts the events it receives and lets the writer wait for the next one.
class TimingSink : public varnelo::IMonitorEvent {
 public:
  void onPathAdded(const char*) override { note(); }
  void onPathModified(const char*) override { note(); }
  void onPathRemoved(const char*) override { note(); }
  void onPathRenamed(const char*, const char*) override { note(); }
  void onRescanNeeded(const char* directory) override {
    std::fprintf(stderr, "rescan needed: %s\n", directory);
  }

  // Waits until more than `seen` events arrived; the time of the first one.
  bool waitBeyond(size_t seen, Clock::time_point& at) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return count_ > seen; })) {
      return false;
    }
    at = firstAfter_;
    return true;
  }
  size_t count() {
    std::lock_guard lock(mutex_);
    return count_;
  }
  void expectAfter(size_t seen) {
    std::lock_guard lock(mutex_);
    mark_ = seen;
  }

 private:
  void note() {
    const auto now = Clock::now();
    {
      std::lock_guard lock(mutex_);
      if (count_ == mark_) firstAfter_ = now;
      ++count_;
    }
    arrived_.notify_all();
  }

  std::mutex mutex_;  // guards count_, mark_, firstAfter_
  std::condition_variable arrived_;
  size_t count_ = 0;
  size_t mark_ = 0;
  Clock::time_point firstAfter_;
};

double millis(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int folders = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int writes = argc > 2 ? std::atoi(argv[2]) : 500;
  char tmpl[] = "/tmp/varnelo-monitor-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string root = tmpl;

  // 100 folders of 100 folders each (10,000 with the default), plus the root.
  const int perLevel = 100;
  for (int i = 0; i < folders; ++i) {
    const std::string path =
        root + "/d" + std::to_string(i / perLevel) + "/e" + std::to_string(i % perLevel);
    if (files::createDirectories(path)) {
      std::fprintf(stderr, "cannot create %s\n", path.c_str());
      return 1;
    }
  }

  TimingSink sink;
  auto* monitor = new varnelo::WinMonitor();
  monitor->setEventSink(&sink);
  monitor->addDirectory(root.c_str());
  const auto startBegin = Clock::now();
  monitor->start();
  const auto startEnd = Clock::now();
  if (!monitor->watcher().IsWatched(root)) {
    std::fprintf(stderr, "the tree could not be watched (fs.inotify.max_user_watches?)\n");
    return 1;
  }
  std::printf("start over %d folders: %.1f ms\n", folders + folders / perLevel + 1,
              millis(startEnd - startBegin));

  std::vector<double> delays;
  for (int i = 0; i < writes; ++i) {
    const size_t seen = sink.count();
    sink.expectAfter(seen);
    // A new empty file: exactly one event (created), so events never spill
    // over into the next measurement.
    const std::string path = root + "/d" + std::to_string(i % std::max(1, folders / perLevel)) +
                             "/f" + std::to_string(i);
    const auto written = Clock::now();
    files::writeFile(path, "");
    Clock::time_point delivered;
    if (!sink.waitBeyond(seen, delivered)) {
      std::fprintf(stderr, "no event for write %d\n", i);
      break;
    }
    delays.push_back(millis(delivered - written));
  }
  std::sort(delays.begin(), delays.end());
  if (!delays.empty()) {
    std::printf("write to callback over %zu writes: median %.3f ms, p95 %.3f ms, max %.3f ms\n",
                delays.size(), delays[delays.size() / 2], delays[delays.size() * 95 / 100],
                delays.back());
  }

  // Throughput: a burst of new files, timed until the last event arrived.
  const int burst = 10000;
  const size_t before = sink.count();
  sink.expectAfter(before + burst - 1);
  const auto burstBegin = Clock::now();
  for (int i = 0; i < burst; ++i) {
    files::writeFile(root + "/d0/e0/b" + std::to_string(i), "");
  }
  const auto burstWritten = Clock::now();
  Clock::time_point last;
  if (sink.waitBeyond(before + burst - 1, last)) {
    std::printf("burst of %d new files: written in %.1f ms, last event after %.1f ms\n", burst,
                millis(burstWritten - burstBegin), millis(last - burstBegin));
  } else {
    std::fprintf(stderr, "burst: %zu of %d events\n", sink.count() - before, burst);
  }

  const auto stopBegin = Clock::now();
  monitor->release();
  std::printf("stop and release: %.1f ms\n", millis(Clock::now() - stopBegin));

  files::removeTree(root);
  return 0;
}
