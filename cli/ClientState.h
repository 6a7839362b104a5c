// The client's own small record in the data folder ("varnelocmd.json",
// mode 0600): this computer's device id and name, the signed-in user and
// the outcome of the last sync. The engine keeps everything else (token,
// folder, mode, excluded folders) in its config.db. Used by the commands on
// the main thread; not shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnelo::cli {

// One deletion the engine held back, as the last sync saw it.
struct HeldPath {
  std::string path;          // below the sync folder
  bool deletedHere = false;  // else deleted on the service
  uint64_t files = 0;        // synced files it covers
  bool operator==(const HeldPath&) const = default;
};

struct LastResult {
  int64_t finishedAt = 0;  // Unix seconds; 0 when no sync ran yet
  bool inStep = false;     // both sides agreed when the sync ended
  uint64_t uploaded = 0;
  uint64_t downloaded = 0;
  std::vector<std::string> failed;  // "path: reason"
  std::string note;                 // e.g. "stopped by signal"
  uint64_t heldDeletions = 0;       // deletions the engine held back for a confirmation
  std::vector<HeldPath> held;       // what they are
  bool folderUnavailable = false;   // the sync folder was not the one synced before
};

struct ClientState {
  std::string deviceId;  // "{XXXXXXXX-XXXX-4XXX-XXXX-XXXXXXXXXXXX}", kept for ever
  std::string deviceName;
  std::string user;
  LastResult last;
};

// Reads the record of `dataFolder`; a missing or unreadable file gives an
// empty record (the device id is then made anew by ensureDeviceId).
ClientState loadClientState(const std::string& dataFolder);
// Writes it atomically with mode 0600. Empty string on success, else why not.
std::string saveClientState(const std::string& dataFolder, const ClientState& state);

// Gives `state` a device id when it has none: "{" + an upper-case random
// UUID + "}". True when one was made.
bool ensureDeviceId(ClientState& state);

// The host name, or "Linux PC" when it cannot be read.
std::string hostName();

}  // namespace varnelo::cli
