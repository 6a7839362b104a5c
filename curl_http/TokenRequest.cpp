#include "TokenRequest.h"

#include <stddef.h>  // oauth.h uses size_t without including it

#include <oauth.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "FormEscape.h"
#include "HttpStatus.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "OAuthHeader.h"
#include "Records.h"
#include "ServiceBases.h"
#include "Transport.h"

namespace varnelo::http {
namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

// oauth_token and oauth_token_secret from a form-encoded reply body.
bool read_token_reply(const std::string& body, std::string& key, std::string& secret) {
  std::lock_guard lock(liboauth_mutex());
  char** argv = nullptr;
  int argc = oauth_split_url_parameters(body.c_str(), &argv);
  if (argc > 0) qsort(argv, static_cast<size_t>(argc), sizeof(char*), oauth_cmpstringp);
  const char* foundKey = nullptr;
  const char* foundSecret = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!foundKey && std::strncmp(argv[i], "oauth_token=", 12) == 0) foundKey = argv[i] + 12;
    if (!foundSecret && std::strncmp(argv[i], "oauth_token_secret=", 19) == 0)
      foundSecret = argv[i] + 19;
  }
  bool found = foundKey != nullptr && foundSecret != nullptr;
  if (found) {
    key = foundKey;
    secret = foundSecret;
  }
  if (argv != nullptr) oauth_free_array(&argc, &argv);
  return found;
}

int32_t refusal_code(const std::string& body) {
  Json::Value reply;
  if (!parse_json(body, reply)) {
    log_write(kLogError, kModuleVarnelo, "token refusal (409) is not JSON");
    return -119;
  }
  const Json::Value& code = member(reply, "code");
  if (!is_integer(code)) {
    log_write(kLogError, kModuleVarnelo, "token refusal (409) has no integer code");
    return -1;
  }
  int64_t value = integer_value(code);
  if (value == 1) return -115;
  if (value == 4) return -116;
  return 409;
}

}  // namespace

std::string quick_token_url(const char* username, const char* password, const char* provider) {
  return account_service_base() + "/oauth/quick_token?username=" + form_escape(username) +
         "&password=" + form_escape(password) +
         "&provider=" + (provider != nullptr ? provider : "smart");
}

int32_t token_post(const std::string& url, const varnelo_token_pair* consumer,
                   const varnelo_token_pair* token, varnelo_token_pair** outToken) {
  if (outToken != nullptr) *outToken = nullptr;
  if (consumer == nullptr || consumer->key == nullptr || consumer->secret == nullptr ||
      outToken == nullptr)
    return 499;
  if (token != nullptr && (token->key == nullptr || token->secret == nullptr)) return 499;
  std::unique_ptr<char, FreeDeleter> signedUrl;
  {
    std::lock_guard lock(liboauth_mutex());
    signedUrl.reset(oauth_sign_url2(url.c_str(), nullptr, OA_HMAC, "POST", consumer->key,
                                    consumer->secret, token ? token->key : nullptr,
                                    token ? token->secret : nullptr));
  }
  if (!signedUrl) {
    log_write(kLogError, kModuleVarnelo, "signing the token request failed");
    return -105;
  }
  StringSink body, headers;
  int rc = http_post(signedUrl.get(), "", 0, nullptr, kRequestTimeoutMs, body, headers);
  if (rc != 0) return rc;
  int status = parse_http_status(headers.bytes);
  if (status == 200) {
    std::string key, secret;
    if (!read_token_reply(body.bytes, key, secret)) {
      log_write(kLogError, kModuleVarnelo, "token reply lacks oauth_token or its secret");
      return -1;
    }
    *outToken = new TokenPair(std::move(key), std::move(secret));
    return 200;
  }
  if (status == 409) return refusal_code(body.bytes);
  if (status != -1) log_write(kLogInfo, kModuleVarnelo, "token request answered %d", status);
  if (status == -1) log_write(kLogError, kModuleVarnelo, "token reply has no status line");
  return status;
}

}  // namespace varnelo::http
