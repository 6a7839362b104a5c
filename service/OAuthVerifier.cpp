#include "OAuthVerifier.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "Base64.h"
#include "Crypto.h"
#include "Log.h"

namespace varnelo::service {
namespace {

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Parses `OAuth a="1", b="2"`; values are percent-decoded. cpp-httplib has
// already decoded %XX in header values, and a "+" stays a "+" (signatures
// carry it), so decoding again only matters for servers that do not, and is
// harmless here: OAuth values hold no "%" once decoded.
bool parseAuthorization(const std::string& header, std::vector<QueryParam>* out) {
  size_t pos = 0;
  while (pos < header.size() && header[pos] == ' ') ++pos;
  if (lower(header.substr(pos, 6)) != "oauth ") return false;
  pos += 6;
  while (pos < header.size()) {
    while (pos < header.size() && (header[pos] == ' ' || header[pos] == ',')) ++pos;
    if (pos >= header.size()) break;
    size_t eq = header.find('=', pos);
    if (eq == std::string::npos) return false;
    std::string name = header.substr(pos, eq - pos);
    pos = eq + 1;
    std::string value;
    if (pos < header.size() && header[pos] == '"') {
      size_t close = header.find('"', pos + 1);
      if (close == std::string::npos) return false;
      value = header.substr(pos + 1, close - pos - 1);
      pos = close + 1;
    } else {
      size_t comma = header.find(',', pos);
      if (comma == std::string::npos) comma = header.size();
      value = header.substr(pos, comma - pos);
      pos = comma;
    }
    // The realm is not a signed parameter.
    if (lower(name) != "realm")
      out->emplace_back(percentDecode(name, false), percentDecode(value, false));
  }
  return true;
}

std::string normalisedBaseUrl(const std::string& scheme, const std::string& host,
                              const std::string& path) {
  std::string h = lower(host);
  if ((scheme == "http" && h.size() > 3 && h.ends_with(":80")) ||
      (scheme == "https" && h.size() > 4 && h.ends_with(":443"))) {
    h.erase(h.rfind(':'));
  }
  return scheme + "://" + h + path;
}

bool parseTimestamp(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 12) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *out = strtoll(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

const char* oauthResultName(OAuthResult result) {
  switch (result) {
    case OAuthResult::kOk:
      return "ok";
    case OAuthResult::kMalformed:
      return "malformed";
    case OAuthResult::kUnknownConsumer:
      return "unknown consumer";
    case OAuthResult::kUnknownToken:
      return "unknown token";
    case OAuthResult::kBadSignature:
      return "bad signature";
    case OAuthResult::kStaleTimestamp:
      return "stale timestamp";
    case OAuthResult::kReplayedNonce:
      return "replayed nonce";
  }
  return "?";
}

OAuthVerifier::OAuthVerifier(Tokens& tokens, std::function<int64_t()> clock)
    : tokens_(tokens), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return static_cast<int64_t>(time(nullptr)); };
}

std::string OAuthVerifier::baseString(const std::string& method, const std::string& baseUrl,
                                      std::vector<QueryParam> params) {
  for (auto& [name, value] : params) {
    name = oauthEncode(name);
    value = oauthEncode(value);
  }
  std::sort(params.begin(), params.end());
  std::string joined;
  for (const auto& [name, value] : params) {
    if (!joined.empty()) joined += '&';
    joined += name + "=" + value;
  }
  return method + "&" + oauthEncode(baseUrl) + "&" + oauthEncode(joined);
}

OAuthResult OAuthVerifier::verify(const SignedRequest& request, TokenRequirement requirement,
                                  Caller* out) {
  size_t q = request.target.find('?');
  std::string path = request.target.substr(0, q);
  out->query = q == std::string::npos ? std::vector<QueryParam>()
                                      : parseQuery(std::string_view(request.target).substr(q + 1));
  std::vector<QueryParam> params = out->query;
  if (!request.authorization.empty() && !parseAuthorization(request.authorization, &params)) {
    return OAuthResult::kMalformed;
  }
  params.insert(params.end(), request.formBody.begin(), request.formBody.end());

  std::string signature, method, timestampText, nonce, version;
  bool haveSignature = false;
  std::vector<QueryParam> signedParams;
  for (const auto& p : params) {
    if (p.first == "oauth_signature") {
      if (haveSignature) return OAuthResult::kMalformed;
      haveSignature = true;
      signature = p.second;
      continue;
    }
    if (p.first == "oauth_consumer_key") out->consumer = p.second;
    if (p.first == "oauth_token") out->token = p.second;
    if (p.first == "oauth_signature_method") method = p.second;
    if (p.first == "oauth_timestamp") timestampText = p.second;
    if (p.first == "oauth_nonce") nonce = p.second;
    if (p.first == "oauth_version") version = p.second;
    signedParams.push_back(p);
  }
  int64_t timestamp = 0;
  if (!haveSignature || method != "HMAC-SHA1" || nonce.empty() ||
      !parseTimestamp(timestampText, &timestamp) || (!version.empty() && version != "1.0")) {
    return OAuthResult::kMalformed;
  }

  std::string consumerSecret;
  if (out->consumer.empty() || !tokens_.consumerSecret(out->consumer, &consumerSecret)) {
    return OAuthResult::kUnknownConsumer;
  }
  std::string tokenSecret;
  if (requirement == TokenRequirement::kNone) {
    if (!out->token.empty()) return OAuthResult::kUnknownToken;
  } else {
    TokenKind kind =
        requirement == TokenRequirement::kRequest ? TokenKind::kRequest : TokenKind::kAccess;
    if (out->token.empty() || !tokens_.lookup(out->token, &out->tokenInfo) ||
        out->tokenInfo.kind != kind || out->tokenInfo.consumer != out->consumer) {
      return OAuthResult::kUnknownToken;
    }
    tokenSecret = out->tokenInfo.secret;
  }

  std::string base =
      baseString(request.method, normalisedBaseUrl(request.scheme, request.host, path),
                 std::move(signedParams));
  std::string key = oauthEncode(consumerSecret) + "&" + oauthEncode(tokenSecret);
  std::string expected = base64Encode(hmacSha1(key, base), false);
  if (!constantTimeEqual(expected, signature)) {
    logLine(LogLevel::kDebug, "signature mismatch over base string [%s]", base.c_str());
    return OAuthResult::kBadSignature;
  }

  int64_t now = clock_();
  if (timestamp < now - kWindowSeconds || timestamp > now + kWindowSeconds) {
    return OAuthResult::kStaleTimestamp;
  }
  if (!rememberNonce(nonceKey(out->consumer + "\n" + out->token + "\n" + nonce), timestamp, now)) {
    return OAuthResult::kReplayedNonce;
  }
  return OAuthResult::kOk;
}

OAuthVerifier::NonceKey OAuthVerifier::nonceKey(std::string_view text) {
  const std::string digest = sha1(text);
  NonceKey key;
  std::memcpy(key.data(), digest.data(), key.size());
  return key;
}

// Stored as the hex text of the key. A row from before keys were digests
// holds the text itself (it has line breaks, so it is never 32 hex digits).
void OAuthVerifier::saveNonces() {
  std::unordered_map<std::string, int64_t> copy;
  {
    std::lock_guard<std::mutex> lock(nonceMutex_);
    copy.reserve(nonces_.size());
    for (const auto& [key, time] : nonces_)
      copy.emplace(toHex(std::string_view(key.data(), key.size())), time);
  }
  tokens_.saveNonces(copy);
}

void OAuthVerifier::loadNonces() {
  auto loaded = tokens_.loadNonces();
  std::lock_guard<std::mutex> lock(nonceMutex_);
  for (const auto& [text, time] : loaded) {
    std::string raw;
    NonceKey key;
    if (text.size() == 2 * key.size() && fromHex(text, raw)) {
      std::memcpy(key.data(), raw.data(), key.size());
    } else {
      key = nonceKey(text);
    }
    nonces_.emplace(key, time);
  }
}

bool OAuthVerifier::rememberNonce(const NonceKey& key, int64_t timestamp, int64_t now) {
  std::lock_guard<std::mutex> lock(nonceMutex_);
  // A nonce older than twice the window can no longer come with an accepted
  // timestamp, so it is safe to forget.
  if (now - lastPrune_ > 60) {
    std::erase_if(nonces_,
                  [&](const auto& item) { return item.second < now - 2 * kWindowSeconds; });
    lastPrune_ = now;
  }
  return nonces_.emplace(key, std::max(timestamp, now)).second;
}

}  // namespace varnelo::service
