// The three token requests (quick, request and access token): the OAuth
// parameters travel in the signed URL's query, the body is empty and the
// reply is form-encoded. Called by the sign-in functions; thread safe.
#pragma once

#include <cstdint>
#include <string>

#include "varnelo/account.h"

namespace varnelo::http {

// POSTs `url` signed with the consumer pair and, when given, `token`. On 200
// *outToken is a new pair. 409 with JSON "code" 1 → -115, 4 → -116, another
// integer → 409, no integer → -1, not JSON → -119; -105 when signing fails.
// The password sign-in address: user name and password form-escaped, the
// provider as given ("smart" when NULL).
std::string quick_token_url(const char* username, const char* password, const char* provider);

int32_t token_post(const std::string& url, const varnelo_token_pair* consumer,
                   const varnelo_token_pair* token, varnelo_token_pair** outToken);

}  // namespace varnelo::http
