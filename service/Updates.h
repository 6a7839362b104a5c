// The published application update: the manifest version, the installer
// file it names and the installer's SHA-256, kept in <data>/update/. Written
// by the admin API and `publish-update`, read by the update routes; one lock
// guards the files so a reader never sees a version without its installer.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace varnelo::service {

class Updates {
 public:
  explicit Updates(std::string dataDir);
  struct Current {
    std::string version;
    std::string fileName;
    std::string sha256;    // lower-case hex; empty for an update stored before digests were kept
    int64_t sequence = 0;  // 0 for an update stored before sequence numbers were kept
  };

  // Stores the installer as "Varnelo-x86-<version>-Setup.run" with its
  // digest and makes it current, with a sequence number above every earlier
  // one (at least the current Unix time, so a data folder made afresh does
  // not start below what clients have seen).
  bool publish(const std::string& version, const std::string& installer);
  // False when nothing has been published.
  bool current(Current* out);
  // Full path of a published installer; empty for names that are not ours.
  std::string installerPath(const std::string& fileName);

 private:
  bool readCurrentLocked(Current* out);

  std::string dir_;
  // Guards the files below dir_.
  std::mutex mutex_;
};

}  // namespace varnelo::service
