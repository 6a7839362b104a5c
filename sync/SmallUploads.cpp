#include "SmallUploads.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "ChunkTasks.h"
#include "FileJournal.h"
#include "IoChannel.h"
#include "OperationArena.h"
#include "SyncSettings.h"
#include "TransferCodes.h"
#include "TransferGroup.h"
#include "platform/text.h"
#include "platform/time.h"

namespace varnelo::uploader {

// One small file on its way. The job, the callback and the task live here
// until the sync thread has completed the file; the arena only holds the
// work item that points at the task.
struct SmallUploads::Flight {
  Flight(Context& context, UploadJob j)
      : job(std::move(j)), file(context, job), callback(context, job) {}
  // I/O thread, a file of one chunk: its requests, one after the other.
  void run() {
    try {
      sent = file.sendOneChunkHere(callback);
    } catch (const std::exception&) {
      sent = codes::kOtherFailure;  // out of memory, most likely: tried again later
    }
    group.taskFinished(sent == codes::kOk || sent == codes::kUnchanged);
  }
  UploadJob job;
  UploadFile file;
  UploadFileCallback callback;
  TransferGroup group;
  std::unique_ptr<UploadSmallFileTask> task;  // a small file's one request
  std::shared_ptr<PutBatchRequest> putBatch;  // or the batch that carries it
  PutBatchMember member;                      // what the batch sends of it (moved there)
  size_t memberIndex = 0;
  mthread::OperationArena arena;
  int planned = codes::kOk;         // prepareSmall's or prepareOneChunk's code
  bool oneChunk = false;            // sent by run(), not by `task`
  int sent = codes::kOtherFailure;  // run()'s code, written before the group is signalled
  bool posted = false;
};

SmallUploads::SmallUploads(Context& context, size_t limit)
    : context_(context), limit_(limit ? limit : 1) {}

SmallUploads::~SmallUploads() {
  drain();
}

bool SmallUploads::submit(UploadJob& job) {
  const SyncSettings& settings = context_.settings();
  if (job.journalKnowsFolder || job.fileSize < 1 || job.fileSize > settings.chunkSize) {
    return false;
  }
  while (flights_.size() >= limit()) completeOldest();

  auto flight = std::make_unique<Flight>(context_, std::move(job));
  Flight& f = *flight;
  auto& channel = mthread::IoChannel::instance();
  std::optional<int> posted;  // the channel's answer, once something was posted
  if (f.job.fileSize <= settings.smallFileLimit && settings.putBatchFiles > 0) {
    f.planned = f.file.prepareBatched(f.callback, f.member);
    if (f.planned == codes::kOk) addToPutBatch(f);
  } else if (f.job.fileSize <= settings.smallFileLimit) {
    f.planned = f.file.prepareSmall(f.callback, f.group, f.task);
    if (f.planned == codes::kOk && f.task) {
      commitIntent();
      channel.setThreadCount(settings.ioThreads);
      f.group.addPending();
      posted = channel.post(f.arena, f.task.get(), &mthread::runTask<UploadSmallFileTask>);
    }
  } else {
    f.oneChunk = true;
    f.planned = f.file.prepareOneChunk(f.callback);
    if (f.planned == codes::kOk) {
      commitIntent();
      channel.setThreadCount(settings.ioThreads);
      f.group.addPending();
      posted = channel.post(f.arena, &f, &mthread::runTask<Flight>);
    }
  }
  if (posted && *posted == mthread::Channel::kPosted) {
    f.posted = true;
  } else if (posted) {
    f.group.taskFinished(false);  // refused by the channel: the task never runs
  }
  ++held_[platform::asciiLower(f.job.localPath)];
  flights_.push_back(std::move(flight));
  return true;
}

size_t SmallUploads::limit() const {
  const size_t files = context_.settings().putBatchFiles;
  return std::max(limit_, files * kPutBatchesInFlight);
}

void SmallUploads::addToPutBatch(Flight& f) {
  const SyncSettings& settings = context_.settings();
  if (filling_ && (filling_->files() >= settings.putBatchFiles ||
                   filling_->bytes() + f.member.size > settings.putBatchBytes)) {
    postPutBatch();
  }
  if (!filling_) {
    filling_ = std::make_shared<PutBatchRequest>(settings.credentials, settings.chunkSize,
                                                 settings.requestTimeoutMs, settings.attempts);
  }
  f.putBatch = filling_;
  f.memberIndex = filling_->add(std::move(f.member));
  // A full batch goes at once; the sync thread plans the next meanwhile.
  if (filling_->files() >= settings.putBatchFiles) postPutBatch();
}

void SmallUploads::postPutBatch() {
  std::shared_ptr<PutBatchRequest> batch = std::move(filling_);
  if (!batch) return;
  // Every file's commit intent reaches the disk before any of them can
  // reach the service.
  commitIntent();
  auto& channel = mthread::IoChannel::instance();
  channel.setThreadCount(context_.settings().ioThreads);
  batch->group.addPending();
  batch->posted = channel.post(batch->arena, batch.get(), &mthread::runTask<PutBatchRequest>) ==
                  mthread::Channel::kPosted;
  if (!batch->posted) batch->group.taskFinished(false);  // the request never runs
}

void SmallUploads::commitIntent() {
  // The file's preparation wrote its commit intent (CommitIntent.h), which
  // must be on disk before its request can reach the service: a kill would
  // lose it with an open batch. The rows before it are committed with it.
  batch_.reset();
}

void SmallUploads::batchNext() {
  const uint64_t now = platform::monotonicMillis();
  if (batch_ && (batchFiles_ >= kBatchFiles || now - batchStart_ >= kBatchMs)) batch_.reset();
  if (!batch_) {
    batch_.reset(new sqlite::Batch(context_.journal().batch()));
    batchFiles_ = 0;
    batchStart_ = now;
  }
  ++batchFiles_;
}

void SmallUploads::completeOldest() {
  std::unique_ptr<Flight> flight = std::move(flights_.front());
  flights_.pop_front();
  if (auto it = held_.find(platform::asciiLower(flight->job.localPath));
      it != held_.end() && --it->second == 0)
    held_.erase(it);
  // Rows already written are committed before the thread waits for this
  // file's requests, not held open across the wait.
  if (batch_ && flight->group.pending() > 0) batch_.reset();
  if (flight->putBatch && flight->putBatch == filling_) postPutBatch();
  if (batch_ && flight->putBatch && flight->putBatch->group.pending() > 0) batch_.reset();
  int rc = flight->planned;
  if (rc == codes::kOk && flight->putBatch) {
    PutBatchRequest& request = *flight->putBatch;
    // A stop or a pause ends the request this thread waits for at once,
    // rather than after megabytes of files have gone up.
    while (!request.group.waitFor(kStopPollMs)) {
      if (context_.isStopping()) request.cancel.cancel();
    }
    rc = request.posted ? request.member(flight->memberIndex).result : codes::kStopped;
    if (rc != codes::kOk) batch_.reset();  // the chunked way makes requests here
    rc = flight->file.finishSmall(flight->callback, rc);
  } else if (rc == codes::kOk && flight->oneChunk) {
    flight->group.wait();
    rc = flight->posted ? flight->sent : codes::kStopped;
  } else if (rc == codes::kOk) {
    if (flight->task) {
      flight->group.wait();
      rc = flight->posted ? flight->task->result() : codes::kStopped;
    } else {
      rc = codes::kOtherFailure;  // no request could be made: the chunked way
    }
    if (rc != codes::kOk) batch_.reset();  // the chunked way makes requests here
    rc = flight->file.finishSmall(flight->callback, rc);
  }
  batchNext();
  flight->callback.run(rc);
}

void SmallUploads::drain() {
  while (!flights_.empty()) completeOldest();
  batch_.reset();  // what comes next sees every row committed
}

bool SmallUploads::holds(const std::string& localPath) const {
  return held_.count(platform::asciiLower(localPath)) > 0;
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
