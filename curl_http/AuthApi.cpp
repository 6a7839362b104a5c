// Exported sign-in functions: the three token requests and the credentials
// object that signs every later call.
#include <string>

#include "ApiGuard.h"
#include "FormEscape.h"
#include "Records.h"
#include "ServiceBases.h"
#include "TokenRequest.h"

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_auth_quick_token(const char* username, const char* password,
                                 const varnelo_token_pair* consumer, varnelo_token_pair** out,
                                 const char* provider) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (username == nullptr || password == nullptr) return 499;
    return token_post(quick_token_url(username, password, provider), consumer, nullptr, out);
  });
}

int32_t varnelo_auth_request_token(const varnelo_token_pair* consumer, varnelo_token_pair** out) {
  return api_guard(__func__, [&]() -> int32_t {
    return token_post(account_service_base() + "/oauth/request_token?oauth_callback=oob", consumer,
                      nullptr, out);
  });
}

int32_t varnelo_auth_access_token(const varnelo_token_pair* consumer,
                                  const varnelo_token_pair* requestToken, const char* verifier,
                                  varnelo_token_pair** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (requestToken == nullptr || verifier == nullptr) return 499;
    return token_post(
        account_service_base() + "/oauth/access_token?oauth_verifier=" + form_escape(verifier),
        consumer, requestToken, out);
  });
}

int32_t varnelo_auth_combine(const char* user, const varnelo_token_pair* consumer,
                             const varnelo_token_pair* access, varnelo_credentials** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (consumer == nullptr || access == nullptr || out == nullptr) return 499;
    *out = new Credentials(*consumer, *access, user);
    return 200;
  });
}

int32_t varnelo_destroy_inner_token(varnelo_token_pair* token) {
  delete static_cast<TokenPair*>(token);
  return 200;
}

int32_t varnelo_destroy_token(varnelo_credentials* credentials) {
  delete static_cast<Credentials*>(credentials);
  return 200;
}

}  // extern "C"
