#include "Capabilities.h"

#include <cstdlib>
#include <ctime>

#include "Base64.h"
#include "Crypto.h"

namespace varnelo::service {
namespace {
bool parseInt(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  char* end = nullptr;
  long long v = strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || v < 0) return false;
  *out = v;
  return true;
}
int64_t expiry() {
  return static_cast<int64_t>(time(nullptr)) + Capabilities::kLifetimeSeconds;
}
bool live(int64_t expires) {
  return expires >= static_cast<int64_t>(time(nullptr));
}
}  // namespace

std::string Capabilities::tag(const std::string& text) const {
  return toHex(hmacSha1(secret_, text));
}

std::string Capabilities::uploadQuery(const UploadGrant& grant) const {
  std::string key = base64Encode(grant.key, true);
  int64_t e = expiry();
  std::string fields = "u|" + std::to_string(grant.account) + "|" + key + "|" +
                       std::to_string(grant.maxLength) + "|" + std::to_string(e);
  return "k=" + oauthEncode(key) + "&a=" + std::to_string(grant.account) +
         "&n=" + std::to_string(grant.maxLength) + "&e=" + std::to_string(e) + "&s=" + tag(fields);
}

bool Capabilities::checkUpload(const std::vector<QueryParam>& query, UploadGrant* out) const {
  std::string key = queryValue(query, "k");
  int64_t e = 0;
  if (!parseInt(queryValue(query, "a"), &out->account) ||
      !parseInt(queryValue(query, "n"), &out->maxLength) || !parseInt(queryValue(query, "e"), &e)) {
    return false;
  }
  std::string fields = "u|" + std::to_string(out->account) + "|" + key + "|" +
                       std::to_string(out->maxLength) + "|" + std::to_string(e);
  if (!constantTimeEqual(tag(fields), queryValue(query, "s")) || !live(e)) return false;
  return base64Decode(key, true, out->key) && out->key.size() == 20;
}

std::string Capabilities::dataQuery(const DataGrant& grant) const {
  int64_t e = expiry();
  std::string fields = "d|" + std::to_string(grant.account) + "|" + grant.list + "|" +
                       grant.listHash + "|" + std::to_string(grant.size) + "|" + std::to_string(e);
  std::string q = "c=" + grant.list + "&a=" + std::to_string(grant.account);
  if (!grant.listHash.empty()) q += "&m=" + grant.listHash;
  return q + "&z=" + std::to_string(grant.size) + "&e=" + std::to_string(e) + "&s=" + tag(fields);
}

bool Capabilities::checkData(const std::vector<QueryParam>& query, DataGrant* out) const {
  int64_t e = 0;
  out->list = queryValue(query, "c");
  out->listHash = queryValue(query, "m");
  if (!parseInt(queryValue(query, "a"), &out->account) ||
      !parseInt(queryValue(query, "z"), &out->size) || !parseInt(queryValue(query, "e"), &e)) {
    return false;
  }
  std::string fields = "d|" + std::to_string(out->account) + "|" + out->list + "|" + out->listHash +
                       "|" + std::to_string(out->size) + "|" + std::to_string(e);
  return constantTimeEqual(tag(fields), queryValue(query, "s")) && live(e);
}

}  // namespace varnelo::service
