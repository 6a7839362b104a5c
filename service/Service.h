// The commands of varnelo-service: `serve` (opens the data folder, starts
// the HTTP and HTTPS listeners, prints the listening line, runs until SIGINT
// or SIGTERM), `add-user` and `publish-update`. Called from main on the main thread.
#pragma once

#include <cstdint>
#include <string>

namespace varnelo::service {

struct ServeOptions {
  std::string dataDir;
  std::string host = "127.0.0.1";
  int httpPort = 8080;
  int httpsPort = 8443;
  std::string faults;
  // "http(s)://name[:port]" that the update manifest's installer URLs start
  // with; empty: this service's own listening address, per listener.
  std::string updateBase;
  bool notify = true;         // false: no change notifications offered (--notify off)
  bool inlineContent = true;  // false: listings carry no file content (--inline off)
  bool batch = true;          // false: no batched small puts offered (--batch off)
};

// The --update-base text without its trailing "/", or empty when it is not
// a plain http(s) address.
std::string normaliseUpdateBase(const std::string& text);

struct AddUserOptions {
  std::string dataDir;
  std::string user;
  std::string password;
  std::string provider = "native";
  std::string state = "active";
  int64_t quota = int64_t{10} << 30;
};

struct PublishUpdateOptions {
  std::string dataDir;
  std::string version;
  std::string installerPath;
};

// Process exit codes: 0 after a clean stop, 1 on failure (logged).
int serve(const ServeOptions& options);
int addUser(const AddUserOptions& options);
// Publishes the installer file as the current update (the admin API's
// PUT /admin/update without a running service).
int publishUpdate(const PublishUpdateOptions& options);

}  // namespace varnelo::service
