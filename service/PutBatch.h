// The body of a batched small-file put: one line of compact JSON naming the
// files (path, key, size, base, chunk size, type, edit time), then their
// contents back to back in that order. parsePutBatch checks the whole
// request's shape before anything is applied; each file's own checks (its
// bytes against its key, its path, its base) come after, file by file.
// Pure functions; called on the request threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Tree.h"

namespace varnelo::service {

// What one batch may hold; /info announces files and bytes.
struct PutBatchLimits {
  int64_t files = 256;
  int64_t bytes = 4 * 1024 * 1024;  // content bytes, manifest excluded
  int64_t fileSize = 16384;         // each file 1..fileSize bytes
  int64_t manifestBytes = 1 << 20;  // the first line, newline excluded
};

// One file of a batch: the put as /2/put would make it, its content and
// its result once applied.
struct BatchFile {
  PutRequest put;            // keys holds the one key the manifest names
  std::string_view content;  // into the request body
  Status code = kOk;
  Entry entry;  // when code is kOk
};

// Splits `body` into files; false (nothing to apply) unless the manifest
// parses, every member has its type and range, the limits hold and the body
// is exactly the manifest line plus the files' sizes. `content` views point
// into `body`.
bool parsePutBatch(std::string_view body, const PutBatchLimits& limits,
                   std::vector<BatchFile>* files);

}  // namespace varnelo::service
