// Internal account operations beside the exported ones: the engine facade
// checks with account_ping that its credentials are still accepted.
// Thread safe; blocks for at most 30 s.
#pragma once

#include <cstdint>

#include "varnelo/account.h"

namespace varnelo::http {

// 200 when the service accepts the credentials ("code" 0); the status as is
// when it is not 200; -1 for a 200 reply without an integer "code" of 0.
int32_t account_ping(const varnelo_credentials* credentials);

}  // namespace varnelo::http
