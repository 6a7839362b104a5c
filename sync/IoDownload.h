// The transfer of one remote file into its temporary part file:
// DownloadFile::run writes the bytes that came with the listing, or reads
// the entry, resumes what the part file already holds, and fetches every
// other chunk on the I/O channel (a chunk that a local file already holds
// is copied from there). Runs on the sync thread,
// and only the chunk tasks run on the I/O threads; or, for a file that is
// itself in flight on an I/O thread, it runs there with its chunks one after
// the other on that thread (never waiting for other work of the channel).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Context.h"
#include "Digest.h"
#include "ListedContent.h"
#include "TempNames.h"
#include "TransferCallback.h"
#include "platform/file.h"
#include "platform/time.h"

namespace varnelo {

// What one download needs and what it learns on the way.
struct DownloadJob {
  std::string remotePath;
  std::string localPath;
  std::string journalPath;
  Signature expected{};  // the version the listing reported
  std::string tempPath;  // the part file
  // Filled by DownloadFile::run from the metadata request.
  uint64_t remoteSize = 0;
  std::optional<platform::FileTime> remoteTime;
  std::vector<ChunkKey> keys;
  uint32_t chunkSize = 0;  // the size the keys were cut with (the stored file's)
  // A small file's bytes that came with the listing: then remoteSize and
  // remoteTime are the listing's too, and run() writes them without a
  // request (and lets them go).
  downloader::ListedContent content;
};

class DownloadFile {
 public:
  enum class Chunks { OnChannel, OnThisThread };

  DownloadFile(Context& context, DownloadJob& job, TransferCallback& callback,
               Chunks chunks = Chunks::OnChannel)
      : context_(context), job_(job), callback_(callback), chunks_(chunks) {}

  // Fills the part file (opened for writing); 200 when it holds the whole
  // remote version, else the failure's code.
  int run(platform::File& temp);

 private:
  int fetchChunks(platform::File& temp, const std::string& dataUrl);
  // Writes the whole content `data` into the part file.
  int writeWhole(platform::File& temp, const uint8_t* data);
  int writeListed(platform::File& temp);

  Context& context_;
  DownloadJob& job_;
  TransferCallback& callback_;
  const Chunks chunks_;
};

// Parses the service's edit time (decimal 100 ns count); nothing when it is
// missing or not a plain number.
std::optional<platform::FileTime> parseEditTime(const char* text);

}  // namespace varnelo
