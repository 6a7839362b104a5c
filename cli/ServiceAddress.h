// The web site address of the configured service, for share links. The
// library reads the same VARNELO_SERVICE text ("host:httpPort:httpsPort",
// default 127.0.0.1:8080:8443) for its own requests; the web site is the
// host's plain HTTP port. Pure; any thread.
#pragma once

#include <string>

namespace varnelo::cli {

// "http://host:httpPort" for `setting` (the variable's text, or null for the
// default); empty when the text is malformed.
std::string webSiteBase(const char* setting);

}  // namespace varnelo::cli
