// The host's two requests: the update manifest and the installer, each one
// GET through the engine's transport, so they carry exactly the connection
// settings the application put into the environment (proxy, tunnel, user
// agent, speed limits, DNS share, certificate checks). Called on the host's
// only thread.
//
//   varnelo::http::StringSink body;
//   int status = host_fetch(manifest_url(), body);  // 200, another status, or a CURLcode
#pragma once

#include <string>

#include "Transport.h"

namespace varnelo::host {

// One hour for a whole installer: installers are large and links slow (the
// transport also gives up below 512 bytes/s for 300 s).
inline constexpr long kFetchTimeoutMs = 3600000;
// The manifest is a few hundred bytes: a server that cannot send them in
// 30 s is not waited for (the host holds its lock meanwhile).
inline constexpr long kManifestTimeoutMs = 30000;
// Setting up a connection (name, TCP, TLS) takes seconds at most on any link
// that can carry an update; an unreachable server is given up after 5 s.
inline constexpr long kConnectTimeoutMs = 5000;

// The libcurl code when the transfer failed, otherwise the reply's status
// (-1 when it carried none). Redirects are not followed.
int host_fetch(const std::string& url, http::Sink& body, long timeoutMs = kFetchTimeoutMs);

// UpdateServiceBase + "/update/varnelo-win/version.dat": HTTPS when USE_HTTPS
// is "true" (any letter case), else HTTP, on the host VARNELO_SERVICE names.
std::string manifest_url();

}  // namespace varnelo::host
