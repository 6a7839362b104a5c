// The OAuth consumer this build of the client signs with (CMake cache
// variables VARNELO_CONSUMER_KEY / VARNELO_CONSUMER_SECRET, matching the
// consumer a fresh reference service creates). Used by the engine facade and
// the front ends for sign-in. Immutable; thread safe.
#pragma once

#include "varnelo/account.h"

namespace varnelo::http {

const varnelo_token_pair& client_consumer();

}  // namespace varnelo::http
