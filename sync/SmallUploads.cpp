#include "SmallUploads.h"

#include <strings.h>

#include <algorithm>

#include "ChunkTasks.h"
#include "IoChannel.h"
#include "OperationArena.h"
#include "TransferCodes.h"
#include "TransferGroup.h"

namespace varnelo::uploader {

// One small file on its way. The job, the callback and the task live here
// until the sync thread has completed the file; the arena only holds the
// work item that points at the task.
struct SmallUploads::Flight {
  Flight(Context& context, UploadJob j)
      : job(std::move(j)), file(context, job), callback(context, job) {}
  UploadJob job;
  UploadFile file;
  UploadFileCallback callback;
  TransferGroup group;
  std::unique_ptr<UploadSmallFileTask> task;
  mthread::OperationArena arena;
  int planned = codes::kOk;  // prepareSmall's code
  bool posted = false;
};

SmallUploads::SmallUploads(Context& context, size_t limit)
    : context_(context), limit_(limit ? limit : 1) {}

SmallUploads::~SmallUploads() {
  drain();
}

bool SmallUploads::submit(UploadJob& job) {
  if (job.journalKnowsFolder || job.fileSize < 1 ||
      job.fileSize > context_.settings().smallFileLimit) {
    return false;
  }
  while (flights_.size() >= limit_) completeOldest();

  auto flight = std::make_unique<Flight>(context_, std::move(job));
  flight->planned = flight->file.prepareSmall(flight->callback, flight->group, flight->task);
  if (flight->planned == codes::kOk && flight->task) {
    auto& channel = mthread::IoChannel::instance();
    channel.setThreadCount(context_.settings().ioThreads);
    flight->group.addPending();
    if (channel.post(flight->arena, flight->task.get(), &mthread::runTask<UploadSmallFileTask>) ==
        mthread::Channel::kPosted) {
      flight->posted = true;
    } else {
      flight->group.taskFinished(false);
    }
  }
  flights_.push_back(std::move(flight));
  return true;
}

void SmallUploads::completeOldest() {
  std::unique_ptr<Flight> flight = std::move(flights_.front());
  flights_.pop_front();
  int rc = flight->planned;
  if (rc == codes::kOk) {
    if (flight->task) {
      flight->group.wait();
      rc = flight->posted ? flight->task->result() : codes::kStopped;
    } else {
      rc = codes::kOtherFailure;  // no request could be made: the chunked way
    }
    rc = flight->file.finishSmall(flight->callback, rc);
  }
  flight->callback.run(rc);
}

void SmallUploads::drain() {
  while (!flights_.empty()) completeOldest();
}

bool SmallUploads::holds(const std::string& localPath) const {
  return std::any_of(flights_.begin(), flights_.end(), [&](const auto& f) {
    return strcasecmp(f->job.localPath.c_str(), localPath.c_str()) == 0;
  });
}

void runUpload(Context& context, UploadJob& job) {
  SmallUploads* window = context.smallUploads();
  if (window) {
    if (window->submit(job)) return;
    window->drain();
  }
  UploadFile(context, job).run();
}

}  // namespace varnelo::uploader
