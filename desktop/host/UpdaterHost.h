// The two roles of varnelohost after its single-instance lock is held: the
// launcher (start a pending installer, else the application with the
// host's command line) and the scheduled updater ("-scheduler": fetch the
// signed manifest, download a newer installer, record it and offer or run
// it). The host has no threads; every step runs in order on the caller's.
// Programs are started through platform::currentLauncher().
//
//   UpdaterHost host(values, question, TrustedKeys::from_build_and_environment(), ownFolder);
//   return host.run(args);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "HostValues.h"
#include "UpdateQuestion.h"
#include "UpdateSignature.h"

namespace varnelo::host {

class UpdaterHost {
 public:
  UpdaterHost(HostValues& values, UpdateQuestion& question, TrustedKeys keys,
              std::string ownFolder);

  // One pass through the roles for the command line `args` (without the
  // program name). Returns the exit code (0).
  int run(const std::vector<std::string>& args);

  // Starts the pending installer when there is an authentic one for a
  // newer version: silently when the application folder is writable and the
  // first component is unchanged, otherwise after the question (for a
  // folder the user cannot change: pkexec runs the installed host's
  // "--install-elevated", which checks a root-owned copy). The compare_versions
  // result of the installer that was started, else 0.
  int install_pending_update();

  // Fetches the manifest and, for an authentic newer version not yet
  // downloaded, downloads and records its installer. True when recorded.
  bool check_for_update();

  // True for the scheduled updater's command line (it holds "-scheduler").
  static bool is_scheduled(const std::vector<std::string>& args);

  // Starts "varnelo" from "AppFolder", else from the host's own folder.
  void start_application(const std::vector<std::string>& args);

 private:
  // The signed facts of the pending installer when they and the file check
  // out; nothing (logged) otherwise.
  std::optional<UpdateManifest> authentic_pending(const std::string& path,
                                                  const std::string& version);
  std::vector<std::string> installer_args(bool silent) const;
  void discard_pending(const std::string& path, const std::string& version);

  HostValues& values_;
  UpdateQuestion& question_;
  TrustedKeys keys_;
  std::string ownFolder_;
};

// True when `folder` is a folder this user may list, add to and delete
// from (the host's test before a silent installation).
bool folder_writable(const std::string& folder);

}  // namespace varnelo::host
