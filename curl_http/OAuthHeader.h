// The OAuth 1.0 (HMAC-SHA1) Authorization header of a signed request, built
// with liboauth from the credentials, the method and the final URL. Query
// parameters of the URL are covered by the signature but stay in the URL.
// Called by every signed request; thread safe.
#pragma once

#include <cstdint>
#include <mutex>

#include "varnelo/account.h"

namespace varnelo::http {

// *out receives a malloc'ed "OAuth oauth_…=\"…\", …" value (free it with
// free). Returns 200, 499 when an argument is NULL, -105 when signing fails.
int32_t make_oauth_header(const varnelo_credentials* credentials, char** out,
                          const char* httpMethod, const char* url);

// The same with a fixed nonce and timestamp, for reproducing published
// signature examples.
int32_t make_oauth_header_fixed(const varnelo_credentials* credentials, char** out,
                                const char* httpMethod, const char* url, const char* nonce,
                                const char* timestamp);

// Held around every call into liboauth: it splits parameters with strtok,
// whose one hidden position is shared by all threads, so two requests
// signed at once could each sign a mix of both URLs.
std::mutex& liboauth_mutex();

}  // namespace varnelo::http
