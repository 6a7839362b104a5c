#include "OAuthHeader.h"

#include <stddef.h>  // oauth.h uses size_t without including it

#include <oauth.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FormEscape.h"
#include "Log.h"
#include "Transport.h"

namespace varnelo::http {
namespace {

// The parameter array of liboauth, freed with the array on every path.
class OAuthArray {
 public:
  explicit OAuthArray(const char* url) { argc_ = oauth_split_url_parameters(url, &argv_); }
  ~OAuthArray() {
    if (argv_ != nullptr) oauth_free_array(&argc_, &argv_);
  }
  OAuthArray(const OAuthArray&) = delete;
  OAuthArray& operator=(const OAuthArray&) = delete;

  void add(const std::string& param) { oauth_add_param_to_array(&argc_, &argv_, param.c_str()); }
  int* argc() { return &argc_; }
  char*** argv() { return &argv_; }
  int size() const { return argc_; }
  const char* at(int i) const { return argv_[i]; }

 private:
  int argc_ = 0;
  char** argv_ = nullptr;
};

bool complete(const varnelo_token_pair& pair) {
  return pair.key != nullptr && pair.secret != nullptr;
}

int32_t build(const varnelo_credentials* c, char** out, const char* method, const char* url,
              const char* nonce, const char* timestamp) {
  if (out != nullptr) *out = nullptr;
  if (c == nullptr || out == nullptr || method == nullptr || url == nullptr ||
      !complete(c->consumer) || !complete(c->access))
    return 499;
  std::lock_guard lock(liboauth_mutex());
  OAuthArray params(url);
  if (params.size() < 1) {
    log_write(kLogError, kModuleVarnelo, "cannot split URL [%s] for signing",
              url_for_log(url).c_str());
    return -105;
  }
  // liboauth keeps an oauth_nonce/oauth_timestamp already present.
  if (nonce != nullptr) params.add(std::string("oauth_nonce=") + nonce);
  if (timestamp != nullptr) params.add(std::string("oauth_timestamp=") + timestamp);
  oauth_sign_array2_process(params.argc(), params.argv(), nullptr, OA_HMAC, method, c->consumer.key,
                            c->consumer.secret, c->access.key, c->access.secret);
  std::string value = "OAuth ";
  bool first = true;
  for (int i = 1; i < params.size(); ++i) {
    const char* param = params.at(i);
    if (std::strncmp(param, "oauth_", 6) != 0) continue;
    const char* eq = std::strchr(param, '=');
    if (eq == nullptr) continue;
    if (!first) value += ", ";
    first = false;
    value.append(param, eq + 1);
    value += '"';
    value += form_escape(eq + 1);
    value += '"';
  }
  if (value.find("oauth_signature=") == std::string::npos) {
    log_write(kLogError, kModuleVarnelo, "OAuth signing of [%s] failed", url_for_log(url).c_str());
    return -105;
  }
  *out = strdup(value.c_str());
  return *out != nullptr ? 200 : -105;
}

}  // namespace

std::mutex& liboauth_mutex() {
  static std::mutex mutex;
  return mutex;
}

int32_t make_oauth_header(const varnelo_credentials* credentials, char** out,
                          const char* httpMethod, const char* url) {
  return build(credentials, out, httpMethod, url, nullptr, nullptr);
}

int32_t make_oauth_header_fixed(const varnelo_credentials* credentials, char** out,
                                const char* httpMethod, const char* url, const char* nonce,
                                const char* timestamp) {
  return build(credentials, out, httpMethod, url, nonce, timestamp);
}

}  // namespace varnelo::http
