#include "TestClient.h"

#include <curl/curl.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>

namespace varnelo::test {
namespace {

size_t appendBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

std::string base64(const std::string& bytes) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 2]);
    out += t[(v >> 18) & 63];
    out += t[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? t[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? t[v & 63] : '=';
  }
  return out;
}

std::string percentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

Reply perform(CURL* curl, const std::string& method, const std::string& url,
              const std::string& body, const std::vector<std::string>& headers,
              const std::string& caPath, long timeoutMs) {
  Reply reply;
  // Reset keeps the handle's connection cache, so requests reuse connections.
  curl_easy_reset(curl);
  curl_slist* list = nullptr;
  bool expect = false;
  for (const auto& h : headers) {
    list = curl_slist_append(list, h.c_str());
    expect = expect || h.rfind("Expect:", 0) == 0;
  }
  if (!expect) list = curl_slist_append(list, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  if (method == "GET") {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  if (!caPath.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caPath.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  reply.curlCode = curl_easy_perform(curl);
  long status = 0;
  if (reply.curlCode == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  reply.status = static_cast<int>(status);
  curl_slist_free_all(list);
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  if (!reader->parse(reply.body.data(), reply.body.data() + reply.body.size(), &reply.json,
                     &errors)) {
    reply.json = Json::Value();
  }
  return reply;
}

std::string compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

}  // namespace

std::string rfc3986(const std::string& text) {
  std::string out;
  char hex[4];
  for (unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string urlSafeBase64(const std::string& bytes) {
  std::string b = base64(bytes);
  std::replace(b.begin(), b.end(), '+', '-');
  std::replace(b.begin(), b.end(), '/', '_');
  return b;
}

std::string sha1Bytes(const std::string& data) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

std::string formValue(const std::string& form, const std::string& name) {
  size_t start = 0;
  while (start < form.size()) {
    size_t end = form.find('&', start);
    if (end == std::string::npos) end = form.size();
    std::string part = form.substr(start, end - start);
    if (part.rfind(name + "=", 0) == 0) return percentDecode(part.substr(name.size() + 1));
    start = end + 1;
  }
  return {};
}

std::string TestClient::caPath() const {
  return service_ ? service_->caPath() : std::string();
}

Reply TestClient::send(const std::string& method, const std::string& url, const std::string& body,
                       const Signing& s, const std::vector<std::string>& headers) {
  // Split the URL into its base and decoded query parameters.
  size_t q = url.find('?');
  std::string base = url.substr(0, q);
  std::vector<std::pair<std::string, std::string>> params;
  if (q != std::string::npos) {
    std::string query = url.substr(q + 1);
    size_t start = 0;
    while (start < query.size()) {
      size_t end = query.find('&', start);
      if (end == std::string::npos) end = query.size();
      std::string part = query.substr(start, end - start);
      size_t eq = part.find('=');
      params.emplace_back(percentDecode(part.substr(0, eq)),
                          eq == std::string::npos ? "" : percentDecode(part.substr(eq + 1)));
      start = end + 1;
    }
  }
  std::string nonce = s.nonce;
  if (nonce.empty()) {
    unsigned char raw[12];
    RAND_bytes(raw, sizeof raw);
    for (unsigned char c : raw) nonce += "0123456789abcdefghijklmnopqrstuv"[c & 31];
  }
  std::vector<std::pair<std::string, std::string>> oauth = {
      {"oauth_consumer_key", s.consumerKey},
      {"oauth_nonce", nonce},
      {"oauth_signature_method", "HMAC-SHA1"},
      {"oauth_timestamp", std::to_string(s.timestamp ? s.timestamp : time(nullptr))},
      {"oauth_version", "1.0"}};
  if (!s.token.empty()) oauth.emplace_back("oauth_token", s.token);
  std::vector<std::string> encoded;
  for (const auto& [k, v] : params) encoded.push_back(rfc3986(k) + "=" + rfc3986(v));
  for (const auto& [k, v] : oauth) encoded.push_back(rfc3986(k) + "=" + rfc3986(v));
  std::sort(encoded.begin(), encoded.end());
  std::string joined;
  for (const auto& e : encoded) joined += (joined.empty() ? "" : "&") + e;
  std::string baseString = method + "&" + rfc3986(base) + "&" + rfc3986(joined);
  std::string key = rfc3986(s.consumerSecret) + "&" + rfc3986(s.tokenSecret);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int macLength = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(baseString.data()), baseString.size(), mac,
       &macLength);
  std::string signature = base64(std::string(reinterpret_cast<char*>(mac), macLength));
  if (s.corruptSignature) signature[0] = signature[0] == 'A' ? 'B' : 'A';
  oauth.emplace_back("oauth_signature", signature);

  std::vector<std::string> allHeaders = headers;
  std::string target = url;
  if (s.inQuery) {
    for (const auto& [k, v] : oauth) {
      target += (target.find('?') == std::string::npos ? "?" : "&") + k + "=" + rfc3986(v);
    }
  } else {
    std::string header = "Authorization: OAuth ";
    for (size_t i = 0; i < oauth.size(); ++i) {
      header += (i ? ", " : "") + oauth[i].first + "=\"" + rfc3986(oauth[i].second) + "\"";
    }
    allHeaders.insert(allHeaders.begin(), header);
  }
  return perform(curl_.get(), method, target, body, allHeaders, caPath(), timeoutMs_);
}

Reply TestClient::plain(const std::string& method, const std::string& url, const std::string& body,
                        const std::vector<std::string>& headers) {
  return perform(curl_.get(), method, url, body, headers, caPath(), timeoutMs_);
}

Reply TestClient::quickToken(const std::string& user, const std::string& password,
                             const std::string& provider) {
  std::string url = service_->httpsBase() + "/oauth/quick_token?username=" + rfc3986(user) +
                    "&password=" + rfc3986(password) + "&provider=" + provider;
  Signing signing;
  signing.inQuery = true;
  Reply r = send("POST", url, "", signing);
  if (r.status == 200) {
    token_ = formValue(r.body, "oauth_token");
    tokenSecret_ = formValue(r.body, "oauth_token_secret");
  }
  return r;
}

bool TestClient::signIn(const std::string& user, const std::string& password) {
  return quickToken(user, password).status == 200 && !token_.empty();
}

Signing TestClient::accessSigning() const {
  Signing s;
  s.token = token_;
  s.tokenSecret = tokenSecret_;
  return s;
}

Reply TestClient::call(const std::string& path, const Json::Value& body) {
  return send("POST", service_->httpBase() + path, compact(body), accessSigning(),
              {"Content-Type: application/octet-stream"});
}

std::vector<std::string> TestClient::chunkKeys(const std::string& content, int64_t chunkSize) {
  std::vector<std::string> keys;
  for (size_t offset = 0; offset < content.size(); offset += static_cast<size_t>(chunkSize)) {
    keys.push_back(sha1Bytes(content.substr(offset, static_cast<size_t>(chunkSize))));
  }
  return keys;
}

Reply TestClient::upload(const std::string& path, const std::string& content, int64_t chunkSize,
                         const std::string& base, int* chunkPuts) {
  Json::Value body;
  body["path"] = path;
  body["keys"] = Json::Value(Json::arrayValue);
  for (const auto& key : chunkKeys(content, chunkSize)) body["keys"].append(urlSafeBase64(key));
  body["chunkSize"] = static_cast<Json::Int64>(chunkSize);
  body["fileSize"] = std::to_string(content.size());
  body["base"] = base;
  Reply prepared = call("/prepare_put", body);
  if (prepared.status != 200) return prepared;
  if (chunkPuts) *chunkPuts = 0;
  for (const Json::Value& item : prepared.json["required"]) {
    size_t offset = static_cast<size_t>(item["index"].asInt64() * chunkSize);
    Reply put = plain("PUT", item["url"].asString(),
                      content.substr(offset, static_cast<size_t>(chunkSize)));
    if (chunkPuts) ++*chunkPuts;
    if (put.status != 200) return put;
  }
  body["editTime"] = "132000000000000000";
  body["mimeType"] = "application/octet-stream";
  return call("/commit_put", body);
}

}  // namespace varnelo::test
