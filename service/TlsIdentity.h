// The service's private certificate authority and its server certificate for
// 127.0.0.1 and localhost, created on first start in the data folder:
// ca.pem (for VARNELO_CA_BUNDLE), server.pem and server.key (0600). Called
// once at start-up from the main thread.
#pragma once

#include <string>

namespace varnelo::service {

struct TlsFiles {
  std::string caPath;
  std::string certPath;
  std::string keyPath;
};

// Reuses existing files; creates all three when any is missing. False on
// failure (logged).
bool ensureTlsIdentity(const std::string& dataDir, TlsFiles* out);

}  // namespace varnelo::service
