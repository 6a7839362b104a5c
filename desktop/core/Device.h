// This computer as a device of the user's account: its permanent id, its
// name, the user agent every request carries, the description of its system
// that is reported when a sync folder is set, and the registration calls.
//
//   Device device(settings, dataFolder);
//   std::string id = device.deviceId();        // "{9A1F...}", kept for ever
//   device.registerDevice(session, "my-laptop");
//
// Thread safe for the id and name (the UI thread and the login thread);
// the service calls block the calling thread (at most 30 s each).
#pragma once

#include <json/json.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "SettingsStore.h"
#include "varnelo/account.h"

namespace varnelo::desktop {

// What the description says about the machine, gathered by the platform
// layer (DeviceFacts.cpp) or given by a test.
struct DeviceFacts {
  struct Cpu {
    int freqMHz = 0;
    std::string flags;  // the processor's identification
    std::string vendor;
    int family = 0;
    int model = 0;
    std::string name;
  };
  std::string osType = "WorkStation";
  std::string osName;     // "" when unknown
  std::string osVersion;  // "major.minor.build"
  std::vector<Cpu> cpus;  // one per core, in processor order
  bool memoryKnown = false;
  uint32_t memTotalMB = 0, memFreeMB = 0;
  bool diskKnown = false;
  std::string diskSerial, diskFileSystem, diskInterface;
  uint32_t diskFreeMB = 0, diskTotalMB = 0;
};

// The facts of this machine, the disk being the one that holds `folder`
// (DeviceFacts.cpp, from the platform layer's system information).
DeviceFacts gatherDeviceFacts(const std::string& folder);
// The machine's architecture ("x86_64") and the operating system's display
// name ("Debian GNU/Linux 12 (bookworm) (build 6.1.0-13-amd64), 64-bit");
// "" when unknown.
std::string machineArchitecture();
std::string osDisplayName();
// The computer's host name, "" when it cannot be read.
std::string hostName();

class Device {
 public:
  Device(SettingsStore& settings, std::string dataFolder);

  // The stored id, else the one of an older version's "deviceid" file
  // (which is removed), else a new one; stored with the name.
  std::string deviceId();
  // The stored name, else the computer's host name (setHostName), else
  // "PC Windows".
  std::string deviceName();
  void setHostName(const std::string& hostName);
  // Takes `name` as the device name and stores it with the id.
  void setDeviceName(const std::string& name);

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" of 16 bytes, upper case.
  static std::string formatId(const std::array<uint8_t, 16>& bytes);
  static std::string newId();
  // "varnelo-win/<version> (b:<architecture>; o:<system>)"; "unknown" for
  // an empty part.
  static std::string userAgent(const std::string& version, const std::string& architecture,
                               const std::string& osName);

  // The description (compact, members in key order when written).
  Json::Value describe(const DeviceFacts& facts);
  static std::string compact(const Json::Value& value);

  // The service side, each with the credentials handle (null gives -105):
  // register under `hostName` (200 makes it the device name), report the
  // description, take the name the service knows, unlink.
  int32_t registerDevice(const varnelo_credentials* session, const std::string& hostName);
  int32_t reportDevice(const varnelo_credentials* session, const DeviceFacts& facts);
  void refreshName(const varnelo_credentials* session);
  int32_t unlink(const varnelo_credentials* session);

 private:
  std::string takeLegacyId();
  // name_, filled from the settings or the host name when still empty.
  const std::string& nameLocked();

  SettingsStore& settings_;
  const std::string dataFolder_;
  std::mutex mutex_;  // guards id_, name_ and hostName_
  std::string id_;
  std::string name_;
  std::string hostName_;
};

}  // namespace varnelo::desktop
