// The queue between the engine's reports of per-file states and the file
// state cache, with the worker thread that applies them. The engine's sink
// enqueues (a short critical section); the worker drains the queue in
// batches, one transaction each. Two reports for one path before the worker
// takes it leave one entry, in the first one's place, with the later state.
//
//   FileStateWorker worker(cache);
//   worker.start();
//   worker.enqueue("/home/me/Varnelo/a.txt", 1);   // any thread
//   worker.stop();                                 // joins the thread
//
// Thread safe.
#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "FileStateCache.h"
#include "platform/sync_primitives.h"

namespace varnelo::desktop {

class FileStateWorker {
 public:
  explicit FileStateWorker(FileStateCache& cache);
  ~FileStateWorker();  // stops
  FileStateWorker(const FileStateWorker&) = delete;
  FileStateWorker& operator=(const FileStateWorker&) = delete;

  void start();
  // Ends the worker: waits between database retries end at once, so the
  // join is quick; reports still queued are dropped.
  void stop();

  void enqueue(const std::string& path, int state);
  size_t pending();
  // True when the queue is empty and the worker holds no entry (tests).
  bool idle();

 private:
  struct Entry {
    std::string path;
    int state;
  };
  void run();
  void drain();

  static constexpr size_t kBatch = 256;  // reports per transaction

  FileStateCache& cache_;
  std::mutex mutex_;  // guards queue_, index_ and busy_
  std::list<Entry> queue_;
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;  // path → its entry
  bool busy_ = false;
  platform::Event work_{platform::Event::Reset::Auto};
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace varnelo::desktop
