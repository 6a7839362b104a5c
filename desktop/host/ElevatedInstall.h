// The elevated half of an update into a folder the user cannot change. The
// user's host has checked its download, but that file stays the user's to
// change until it runs, so pkexec never runs it: it runs the installed host
// (from the folder the user cannot change) with "--install-elevated", which
// copies the installer where only root can write, checks the copy against
// the signed facts, and runs the copy. Used on the host's only thread.
//
//   launcher.runElevated(host, elevated_args(path, facts, {"--prefix=/opt/varnelo"}));
//   ... and as root:
//   if (auto request = parse_elevated_args(rest, &why)) return install_elevated(*request, keys);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "UpdateManifest.h"
#include "UpdateSignature.h"

namespace varnelo::host {

inline constexpr const char* kElevatedSwitch = "--install-elevated";

struct ElevatedRequest {
  std::string installer;                   // the user's download
  UpdateManifest facts;                    // what its signature covers
  std::vector<std::string> installerArgs;  // --silent, --autoupdate, --prefix=/absolute only
};

// The host's command line for `request` (the switch first).
std::vector<std::string> elevated_args(const std::string& installer, const UpdateManifest& facts,
                                       const std::vector<std::string>& installerArgs);

// Reads the words after the switch; nothing (and `why`) for anything but
// what elevated_args writes.
std::optional<ElevatedRequest> parse_elevated_args(const std::vector<std::string>& words,
                                                   std::string* why);

// Exit code of install_elevated for an authentic installer whose version
// is not newer than the one installed at its prefix (or than this host).
inline constexpr int kElevatedNotNewer = 3;

// Copies, checks and runs the installer (with /bin/sh, waiting for it).
// The installer's exit code, or with a log line 1 when the copy or a check
// failed and kElevatedNotNewer for a downgrade (the installer then never
// runs). The copy's folder is removed.
int install_elevated(const ElevatedRequest& request, const TrustedKeys& keys);

}  // namespace varnelo::host
