#include "DownloadWindow.h"

#include <algorithm>
#include <exception>

#include "TransferGroup.h"
#include "platform/files.h"

namespace varnelo {

// One flight and what its posted work item needs: the group the sync
// thread waits on, and the arena the work item is carved from (released
// only once the work item has run).
struct DownloadWindow::Slot {
  explicit Slot(std::unique_ptr<Flight> f) : flight(std::move(f)) {}
  void run() {
    bool ok = true;
    try {
      flight->transfer();
    } catch (const std::exception&) {
      ok = false;  // out of memory, most likely: the file fails and is tried again
    }
    transferred = ok;
    group.taskFinished(ok);
  }
  std::unique_ptr<Flight> flight;
  TransferGroup group;
  mthread::OperationArena arena;
  bool transferred = false;  // written by the work item before it signals the group
};

DownloadWindow::DownloadWindow(size_t limit, Poster poster)
    : limit_(limit ? limit : 1), poster_(std::move(poster)) {}

DownloadWindow::~DownloadWindow() {
  drain();
}

void DownloadWindow::submit(std::unique_ptr<Flight> flight) {
  // Its part file is already named (and may exist from an interrupted
  // run): while older flights complete to make room, it counts as held too.
  incoming_ = flight.get();
  while (slots_.size() >= limit_) completeOldest();
  incoming_ = nullptr;
  auto slot = std::make_unique<Slot>(std::move(flight));
  slot->group.addPending();
  if (poster_(slot->arena, slot.get(), &mthread::runTask<Slot>) != mthread::Channel::kPosted) {
    slot->group.taskFinished(false);
  }
  slots_.push_back(std::move(slot));
}

void DownloadWindow::completeOldest() {
  std::unique_ptr<Slot> slot = std::move(slots_.front());
  slots_.pop_front();
  if (beforeWait_ && slot->group.pending() > 0) beforeWait_();
  slot->group.wait();
  slot->flight->complete(slot->transferred);
}

void DownloadWindow::drain() {
  while (!slots_.empty()) completeOldest();
}

bool DownloadWindow::holdsPartNamed(const std::string& name) const {
  auto named = [&](const Flight& f) { return platform::files::fileName(f.partPath()) == name; };
  return (incoming_ && named(*incoming_)) ||
         std::any_of(slots_.begin(), slots_.end(),
                     [&](const auto& s) { return named(*s->flight); });
}

}  // namespace varnelo
