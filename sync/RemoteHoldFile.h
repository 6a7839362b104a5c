// The record of remote entries taken aside to be deleted (RemoteRemoval.h)
// whose deletion has not gone through yet, kept in one small file of the
// engine's data folder so that a restarted engine finishes them instead of
// leaving each as a conflicted copy on every computer. A hold is written
// before its move is sent, durably (temporary file, flush, rename, flush of
// the folder), and leaves the file once it is finished; the file goes when
// nothing is held.
//
// The file is read back as untrusted input: one that is torn, truncated or
// garbled anywhere is dropped whole (a digest over its text), and a hold
// that does not describe an entry beside its own name under a conflicted
// copy's name is dropped alone, each with a log line. A dropped hold only
// leaves its entry as a conflicted copy; nothing is ever deleted on its
// word without the check against what stands aside on the service.
//
// Used by the sync thread only.
//
//   RemoteHoldFile file(dataFolder + "remote.holds");
//   context.remoteHolds() = file.load();      // at the start of a run
//   file.save(context.remoteHolds(), &next);  // before moving `next` aside
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Context.h"

namespace varnelo {

// The file's text for `holds` (none of them null).
std::string encodeRemoteHolds(const std::vector<const RemoteHold*>& holds);

// The holds `text` describes, each with `moved` false (what stands aside
// is looked at before anything is done). Whatever cannot be read back is
// left out and says why in `dropped`.
std::vector<RemoteHold> decodeRemoteHolds(std::string_view text, std::vector<std::string>& dropped);

class RemoteHoldFile {
 public:
  explicit RemoteHoldFile(std::string path);
  RemoteHoldFile(const RemoteHoldFile&) = delete;
  RemoteHoldFile& operator=(const RemoteHoldFile&) = delete;

  // What an earlier run left, by the journal path of the name each hold was
  // taken from. Never fails: what cannot be read is logged and left out.
  std::map<std::string, RemoteHold> load();

  // Records `holds` and `next` (when given; it replaces a hold of the same
  // name). A set with something in it is written durably; an empty set
  // removes the file, without waiting for the disk: a hold that comes back
  // after a power loss is only looked at again. Unchanged text is not
  // written again. False when the file could not be written.
  bool save(const std::map<std::string, RemoteHold>& holds, const RemoteHold* next = nullptr);

  const std::string& path() const { return path_; }

 private:
  const std::string path_;
  std::string written_;  // the file's text as last written or read; "" when absent
};

}  // namespace varnelo
