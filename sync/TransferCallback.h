// The progress half of a file's IoCallback, shared by uploads and downloads:
// speed samples go to the direction's meter set under the calling worker's
// thread id, byte counts to the current-transfer record that status objects
// read, and isStopping answers from the sync context. Thread safe (the
// meters and the record lock themselves).
#pragma once

#include <string>

#include "Context.h"
#include "IoCallback.h"

namespace varnelo {

class TransferCallback : public IoCallback {
 public:
  TransferCallback(Context& context, MeterSet& meters, std::string name)
      : context_(context), meters_(meters), name_(std::move(name)) {}

  void start(uint64_t totalBytes) override { context_.current().start(name_, totalBytes); }
  bool isStopping() override { return context_.isStopping(); }
  void progress(uint64_t time, int64_t bytes) override;
  bool verifyConflict() override { return false; }

 protected:
  Context& context_;

 private:
  MeterSet& meters_;
  const std::string name_;
};

}  // namespace varnelo
