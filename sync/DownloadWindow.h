// The file downloads of one remote pass that are in flight at once. The sync
// thread still decides every file and completes every file itself (the
// final rename, its journal row, chunk-index rows and reports), one at a
// time and in the order it submitted them; only each file's transfer into
// its part file runs on the I/O channel, up to `limit` files together, so
// that the service's and the network's latency of many small files overlap.
//
//   DownloadWindow window(16, poster);  // poster: Channel::post of the threads to use
//   window.submit(std::move(flight));  // may first complete the oldest one
//   ...
//   window.drain();                    // every file completed, oldest first
//
// Sync thread only. A flight's transfer() runs on an I/O thread and must not
// wait for other work of the channel (it runs its chunks itself), so a full
// channel can never hold up its own window.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "Channel.h"

namespace varnelo {

class DownloadWindow {
 public:
  class Flight {
   public:
    virtual ~Flight() = default;
    // I/O thread: the transfer into the part file; nothing the sync thread
    // reads may change here.
    virtual void transfer() = 0;
    // Sync thread, oldest first. `transferred` is false when the transfer
    // did not run to its end (the channel refused it, or it threw).
    virtual void complete(bool transferred) = 0;
    // The path of the part file this flight writes, which no other download
    // may remove.
    virtual const std::string& partPath() const = 0;
  };

  // Queues (argument, run) on a channel; Channel::post's results.
  using Poster = std::function<int(mthread::OperationArena&, void*, mthread::Channel::RunFunction)>;

  DownloadWindow(size_t limit, Poster poster);
  // Completes what is still in flight.
  ~DownloadWindow();
  DownloadWindow(const DownloadWindow&) = delete;
  DownloadWindow& operator=(const DownloadWindow&) = delete;

  // Starts the transfer of `flight`, first completing the oldest flights
  // while `limit` of them are in flight.
  void submit(std::unique_ptr<Flight> flight);
  // Completes every flight, oldest first.
  void drain();
  // True when a flight in the window, or the one being submitted, writes a
  // part file named `name` (the name alone: part files share one folder).
  bool holdsPartNamed(const std::string& name) const;
  size_t inFlight() const { return slots_.size(); }
  // Called on the sync thread right before it waits for a transfer that
  // has not finished yet (to let go of what must not wait on the network).
  void setBeforeWait(std::function<void()> beforeWait) { beforeWait_ = std::move(beforeWait); }

 private:
  struct Slot;
  void completeOldest();

  const size_t limit_;
  const Poster poster_;
  std::function<void()> beforeWait_;
  std::deque<std::unique_ptr<Slot>> slots_;
  const Flight* incoming_ = nullptr;  // the flight submit() is making room for
};

}  // namespace varnelo
