// Which version is installed at an installation folder, as root can trust
// it, and whether an elevated update may bring a given version there. The
// user's "AppVersion" is the user's to change, so root reads the version
// file every package installs (share/varnelo/version) instead, and only
// when nobody but root could have written it. Used on the elevated host's
// only thread.
//
//   if (auto why = refuse_not_newer("1.3.0", "/opt/varnelo")) log(*why);  // a downgrade
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnelo::host {

// Below the installation folder.
inline constexpr const char* kVersionFile = "share/varnelo/version";

// The version recorded in `prefix`/share/varnelo/version. Nothing (and
// `why`) when it is missing, or when the file or a folder from `prefix`
// down to it is a link, is not owned by root (or by us, when we are not
// root) or may be written by group or others: someone else could then have
// put an older version there.
std::optional<std::string> read_installed_version(const std::string& prefix, std::string* why);

// The folder the installer will install into for `installerArgs`: the last
// "--prefix=", else its own default under $HOME.
std::string installer_prefix(const std::vector<std::string>& installerArgs);

// Nothing when `version` (the signed one) is newer than both this host's
// own version and the one installed at `prefix`; otherwise the reason. A
// program at `prefix` whose version cannot be trusted counts as newer than
// anything, unless it is this very host.
std::optional<std::string> refuse_not_newer(const std::string& version, const std::string& prefix);

}  // namespace varnelo::host
