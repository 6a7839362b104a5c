// Who the host works for when it runs as root on a user's behalf: pkexec
// (the elevated update) names the user in PKEXEC_UID, sudo in SUDO_UID.
// Settings, autostart entry and the running application are that user's,
// so the host takes on the user's identity and folders before it touches
// any of them; as plain root, or for root itself, nothing changes. Called
// once at start-up on the host's only thread.
//
//   if (auto user = invoking_user(); user && !become_user(*user)) return 1;
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace varnelo::host {

struct InvokingUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
};

// The user behind a root process (PKEXEC_UID first, then SUDO_UID, each a
// plain decimal uid other than 0 with an entry in the user database);
// nothing when this process does not run as root or no such user is named.
std::optional<InvokingUser> invoking_user();

// Points HOME, USER, LOGNAME and the XDG folders at the user's (a folder
// variable is kept only when the user owns what it names; the runtime
// folder is /run/user/<uid> when the user owns it) and gives up root for
// the user's ids. False (logged) when the identity cannot be changed: the
// caller must then stop rather than write the user's files as root.
bool become_user(const InvokingUser& user);

}  // namespace varnelo::host
