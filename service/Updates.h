// The published application update: the manifest version and the installer
// file it names, kept in <data>/update/. Written by the admin API, read by
// the update routes; one lock guards the pair so a reader never sees a
// version without its installer.
#pragma once

#include <mutex>
#include <string>

namespace varnelo::service {

class Updates {
 public:
  explicit Updates(std::string dataDir);
  // Stores the installer as "Varnelo-<version>-Setup.exe" and makes it current.
  bool publish(const std::string& version, const std::string& installer);
  // False when nothing has been published.
  bool current(std::string* version, std::string* fileName);
  // Full path of a published installer; empty for names that are not ours.
  std::string installerPath(const std::string& fileName);

 private:
  std::string dir_;
  // Guards the files below dir_.
  std::mutex mutex_;
};

}  // namespace varnelo::service
